#include "tools/kvtcard/restore_values.hpp"

#include <arpa/inet.h>
#include <cstdio>

#include "platform/capi.h"
#include "sections/encodings.hpp"
#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

namespace {

using CodeToName = int (*)(unsigned char, const char **);

class Settings {
  public:
    void add(const std::string &object, std::string value, std::string note = {})
    {
        list_.push_back({object, std::move(value), std::move(note)});
    }

    template <std::size_t N>
    void add_text(const std::string &object, const kvt::TextField<N> &field, std::size_t limit)
    {
        add(object, std::string(field.view().substr(0, limit)));
    }

    void add_flag(std::uint16_t word, const kvt::MiscFlag &flag)
    {
        add(flag.path, kvt::flag_text(word, flag));
    }

    void add_named(const char *object, unsigned char code, CodeToName name_of)
    {
        const char *name = nullptr;
        if (name_of(code, &name) == 0 && name != nullptr) {
            add(object, name);
            return;
        }
        add(object, "", "no name for code " + std::to_string(code) + ": the restore stops here");
    }

    std::vector<CardSetting> take() { return std::move(list_); }

  private:
    std::vector<CardSetting> list_;
};

void add_diag(Settings &s, const kvt::Image &image)
{
    char trigger[kvt::kDiagTriggerTextSize];
    kvt::diag_trigger_text(image.diag_trigger, trigger);
    s.add("/HOST/diag/trigger", trigger);
    const CodeToName verbosity = capi_post_verbosity_name_from_type;
    s.add_named("/HOST/diag/error_reset_verbosity", image.diag_verbosity_error, verbosity);
    s.add_named("/HOST/diag/power_on_verbosity", image.diag_verbosity_power, verbosity);
    s.add_named("/HOST/diag/user_reset_verbosity", image.diag_verbosity_user, verbosity);
    const CodeToName level = capi_post_diaglevel_name_from_type;
    s.add_named("/HOST/diag/error_reset_level", image.diag_level_error, level);
    s.add_named("/HOST/diag/power_on_level", image.diag_level_power, level);
    s.add_named("/HOST/diag/user_reset_level", image.diag_level_user, level);
    char mode[16];
    kvt::diag_mode_name(image.diag_mode, mode, sizeof mode);
    s.add("/HOST/diag/mode", mode);
}

void add_cli(Settings &s, const kvt::Image &image)
{
    const std::uint16_t bits = image.miscbits.get();
    s.add_text("/X/darvcli/prompt", image.cliprompt, 40);
    s.add("/X/darvcli/event_level", std::to_string(image.cli_eventlevel));
    s.add_flag(bits, kvt::kFlagServiceMode);
    s.add_flag(bits, kvt::kFlagPasswdEcho);
    s.add_flag(bits, kvt::kFlagSsqaMode);
    s.add("/X/darvcli/timeout", std::to_string(image.cli_timeout.get()));
}

void add_alert_rules(Settings &s, const kvt::Image &image)
{
    int n = 0;
    for (const kvt::AlertRule &rule : image.alert_rules) {
        const std::string prefix = "/X/alertmgmt/rules/" + std::to_string(++n) + "/";
        s.add_text(prefix + "destination", rule.destination, sizeof rule.destination.chars);
        s.add(prefix + "level", kvt::alert_level_name(rule.level));
        s.add(prefix + "type", kvt::alert_type_name(rule.type));
    }
}

std::string ipv4_text(const kvt::NetAddress &address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, address.bytes, text, sizeof text);
    return text;
}

} // namespace

std::vector<CardSetting> misc_settings_from_card(const kvt::Image &image)
{
    const std::uint16_t bits = image.miscbits.get();
    Settings s;
    add_diag(s, image);
    s.add_flag(bits, kvt::kFlagNetwork);
    s.add_flag(bits, kvt::kFlagAutorunonerror);
    s.add(kvt::kAutorestartPath, kvt::autorestart_name(bits));
    add_cli(s, image);
    add_alert_rules(s, image);
    s.add_text("/HOST/console/escapechars", image.escapechars, 2);
    s.add_text("/X/system_identifier", image.customerinfo, 40);
    s.add_flag(bits, kvt::kFlagSsh);
    s.add_flag(bits, kvt::kFlagPowerStateMemory);
    s.add_flag(bits, kvt::kFlagPowerOnDelay);
    s.add_flag(bits, kvt::kFlagNoBackupUserData);
    s.add_text("/X/clients/smtp/address", image.mailhost_address,
               sizeof image.mailhost_address.chars);
    s.add("/X/clients/smtp/port", std::to_string(image.mailhost_port.get()));
    s.add_flag(bits, kvt::kFlagSmtp);
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
