#include "tools/kvtcard/sp/restore_values.hpp"

#include <arpa/inet.h>

#include "sections/encodings.hpp"
#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

namespace {

class Settings final : public kvt::MiscSettingSink {
  public:
    void set(const char *path, const char *value) override { add(path, value); }

    void set_named(const char *path, unsigned char code, const char *name) override
    {
        if (name != nullptr)
            add(path, name);
        else
            add(path, "", "no name for code " + std::to_string(code) + ": the restore stops here");
    }

    void add(const std::string &object, std::string value, std::string note = {})
    {
        list_.push_back({object, std::move(value), std::move(note)});
    }

    std::vector<CardSetting> take() { return std::move(list_); }

  private:
    std::vector<CardSetting> list_;
};

std::string ipv4_text(const kvt::NetAddress &address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, address.bytes, text, sizeof text);
    return text;
}

} // namespace

std::vector<CardSetting> misc_settings_from_card(const kvt::Image &image)
{
    Settings s;
    kvt::for_each_misc_setting(image, s);
    s.add("keyswitch", std::to_string(image.keyswitch));
    return s.take();
}

std::vector<CardSetting> network_settings_from_card(const kvt::Image &image)
{
    const std::uint32_t flags = image.netflags.get();
    Settings s;
    if ((flags & kvt::KVT_NET_STATIC) == 0) {
        s.add("/X/network/ipdiscovery", "dhcp");
        return s.take();
    }
    if ((flags & kvt::KVT_NET_IPV6) != 0) {
        s.add("/X/network/ipdiscovery", "static", "IPv6 on the card: the restore stops here");
        return s.take();
    }
    s.add("/X/network/ipdiscovery", "static");
    s.add("/X/network/ipaddress", ipv4_text(image.ipaddress));
    s.add("/X/network/ipgateway", ipv4_text(image.ipgateway));
    s.add("/X/network/ipnetmask", ipv4_text(image.ipnetmask));
    return s.take();
}

std::vector<std::string> cli_mode_lines_from_card(const kvt::Image &image)
{
    std::vector<std::string> lines;
    for (const kvt::CliModeEntry &entry : image.climode_table)
        if (entry.name.chars[0] != '\0')
            lines.push_back(std::string(entry.name.view()) + ":" + std::string(entry.mode.view()));
    return lines;
}

} // namespace kvtcard
