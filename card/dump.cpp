#include "card/dump.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "card/line_text.hpp"

namespace {

using kvt::Image;

// Text fields are printed through a terminated copy, so a card that
// carries no NUL in a field still prints only that field; its control
// characters are escaped.
template <std::size_t N> struct FieldText {
    std::string text;
    explicit FieldText(const kvt::TextField<N> &field)
    {
        char terminated[N + 1];
        field.c_str(terminated);
        kvt::append_escaped(text, terminated);
    }
    const char *c_str() const { return text.c_str(); }
};

// The dump's lines go one by one to the line sink the caller gave.
DumpLine dump_line = nullptr;

__attribute__((format(printf, 1, 2))) void line(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = kvt::formatted(format, args);
    va_end(args);
    dump_line(text.c_str());
}

void dump_header(const Image &image)
{
    const unsigned char *mac = image.sp_mac;
    line("\thdr_version: %x\n", image.hdr_version);
    line("\tmac: %02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    line("\tcksum1:%x\n", image.cksum1);
    line("\tcksum2:%x\n", image.cksum2);
}

// The address as text, or false. The IPv4 address is the first four bytes
// of the 16-byte field.
bool address_text(const kvt::NetAddress &address, char (&text)[20])
{
    return inet_ntop(AF_INET, address.bytes, text, sizeof text) != nullptr;
}

// The three address lines, or the error line of the first address that
// cannot be converted and false.
bool dump_addresses(const Image &image, DumpLine error)
{
    char ip[20];
    char gateway[20];
    char netmask[20];
    if (!address_text(image.ipaddress, ip)) {
        error("error converting ipaddress\n");
        return false;
    }
    line("\tip address: %s\n", ip);
    if (!address_text(image.ipgateway, gateway)) {
        error("error converting gateway\n");
        return false;
    }
    line("\tgateway: %s\n", gateway);
    if (!address_text(image.ipnetmask, netmask)) {
        error("error converting netmask\n");
        return false;
    }
    line("\tnetmask: %s\n", netmask);
    return true;
}

bool dump_network(const Image &image, DumpLine error)
{
    const std::uint32_t flags = image.netflags.get();
    const bool ipv6 = (flags & kvt::KVT_NET_IPV6) != 0;
    const bool is_static = (flags & kvt::KVT_NET_STATIC) != 0;
    line("\taddrfamily: %s discovery %s\n", ipv6 ? "ipv6" : "ipv4", is_static ? "static" : "dhcp");
    if (is_static && !ipv6 && !dump_addresses(image, error))
        return false;
    line("\tcksum3:%x\n", image.cksum3);
    return true;
}

void dump_misc(const Image &image)
{
    line("\tdiag_trigger: %x diag_level: %x\n", image.diag_trigger, image.diag_level);
    line("\tdiag_level_error: %x\n", image.diag_level_error);
    line("\tdiag_level_power: %x\n", image.diag_level_power);
    line("\tdiag_level_user: %x\n", image.diag_level_user);
    line("\tdiag_verbosity: %x diag_mode: %d\n", image.diag_verbosity, image.diag_mode);
    line("\tdiag_verbosity_error: %x\n", image.diag_verbosity_error);
    line("\tdiag_verbosity_power: %x\n", image.diag_verbosity_power);
    line("\tdiag_verbosity_user: %x\n", image.diag_verbosity_user);
    line("\tmiscbits: %x\n", image.miscbits.get());
    line("\tcliprompt: <%s>\n", FieldText(image.cliprompt).c_str());
    line("\tcli_eventlevel: %d cli_timeout: %d \n", image.cli_eventlevel,
         static_cast<int>(image.cli_timeout.get()));
    line("\tcksum4: %x\n", image.cksum4);
}

void dump_alert_rules(const Image &image)
{
    int index = 0;
    for (const kvt::AlertRule &rule : image.alert_rules) {
        line("\ti: %d destination %s level: %d type: %d\n", index++,
             FieldText(rule.destination).c_str(), rule.level, rule.type);
    }
    line("\tcksum5: %x\n", image.cksum5);
}

void dump_customer_and_console(const Image &image)
{
    line("\tcustomerinfo:<%s>\n", FieldText(image.customerinfo).c_str());
    line("\tcksum6: %x\n", image.cksum6);
    line("\tescapechars: %2s \n", FieldText(image.escapechars).c_str());
    line("\tmailhost address: %s port %d\n", FieldText(image.mailhost_address).c_str(),
         image.mailhost_port.get());
    line("\tkeyswitch: %d host_type: 0x%x \n", image.keyswitch, image.host_type);
    line("\tcksum7: %x\n", image.cksum7);
}

} // namespace

// The user, CLI-mode and role tables are not dumped, only the first two's
// checksums.
bool dump_kvt_image(const kvt_image_t *image, DumpLine progress, DumpLine error)
{
    dump_line = progress;
    dump_header(*image);
    if (!dump_network(*image, error))
        return false;
    dump_misc(*image);
    dump_alert_rules(*image);
    dump_customer_and_console(*image);
    line("\tcksum8:%x\n", image->cksum8);
    return true;
}
