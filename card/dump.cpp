#include "card/dump.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "service/fatal_stop.hpp"
#include "service/log.hpp"

namespace {

using kvt::Image;

// Text fields are printed through a terminated copy, so a card that
// carries no NUL in a field still prints only that field.
template <std::size_t N> struct FieldText {
    char text[N + 1];
    explicit FieldText(const kvt::TextField<N> &field) { field.c_str(text); }
};

void dump_header(const Image &image)
{
    const unsigned char *mac = image.sp_mac;
    log_progress("\thdr_version: %x\n", image.hdr_version);
    log_progress("\tmac: %02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4],
                 mac[5]);
    log_progress("\tcksum1:%x\n", image.cksum1);
    log_progress("\tcksum2:%x\n", image.cksum2);
}

// One address line; false after the conversion failure was logged.
// The IPv4 address is the first four bytes of the 16-byte field.
bool dump_address(kvt::ValueLine line, const kvt::NetAddress &address, const char *error_line)
{
    char text[20];
    if (!inet_ntop(AF_INET, address.bytes, text, sizeof text)) {
        log_error_line(error_line);
        return false;
    }
    ::kvt::log_value_line_above(0, line, text);
    return true;
}

void dump_network(const Image &image)
{
    const std::uint32_t flags = image.netflags.get();
    const bool ipv6 = (flags & kvt::KVT_NET_IPV6) != 0;
    const bool is_static = (flags & kvt::KVT_NET_STATIC) != 0;
    log_progress("\taddrfamily: %s discovery %s\n", ipv6 ? "ipv6" : "ipv4",
                 is_static ? "static" : "dhcp");
    if (is_static && !ipv6) {
        if (!dump_address("\tip address: %s\n", image.ipaddress, "error converting ipaddress\n") ||
            !dump_address("\tgateway: %s\n", image.ipgateway, "error converting gateway\n") ||
            !dump_address("\tnetmask: %s\n", image.ipnetmask, "error converting netmask\n"))
            kvtd_fatal_stop();
    }
    log_progress("\tcksum3:%x\n", image.cksum3);
}

void dump_misc(const Image &image)
{
    log_progress("\tdiag_trigger: %x diag_level: %x\n", image.diag_trigger, image.diag_level);
    log_progress("\tdiag_level_error: %x\n", image.diag_level_error);
    log_progress("\tdiag_level_power: %x\n", image.diag_level_power);
    log_progress("\tdiag_level_user: %x\n", image.diag_level_user);
    log_progress("\tdiag_verbosity: %x diag_mode: %d\n", image.diag_verbosity, image.diag_mode);
    log_progress("\tdiag_verbosity_error: %x\n", image.diag_verbosity_error);
    log_progress("\tdiag_verbosity_power: %x\n", image.diag_verbosity_power);
    log_progress("\tdiag_verbosity_user: %x\n", image.diag_verbosity_user);
    log_progress("\tmiscbits: %x\n", image.miscbits.get());
    log_progress("\tcliprompt: <%s>\n", FieldText(image.cliprompt).text);
    log_progress("\tcli_eventlevel: %d cli_timeout: %d \n", image.cli_eventlevel,
                 static_cast<int>(image.cli_timeout.get()));
    log_progress("\tcksum4: %x\n", image.cksum4);
}

void dump_alert_rules(const Image &image)
{
    int index = 0;
    for (const kvt::AlertRule &rule : image.alert_rules) {
        log_progress("\ti: %d destination %s level: %d type: %d\n", index++,
                     FieldText(rule.destination).text, rule.level, rule.type);
    }
    log_progress("\tcksum5: %x\n", image.cksum5);
}

void dump_customer_and_console(const Image &image)
{
    log_progress("\tcustomerinfo:<%s>\n", FieldText(image.customerinfo).text);
    log_progress("\tcksum6: %x\n", image.cksum6);
    log_progress("\tescapechars: %2s \n", FieldText(image.escapechars).text);
    log_progress("\tmailhost address: %s port %d\n", FieldText(image.mailhost_address).text,
                 image.mailhost_port.get());
    log_progress("\tkeyswitch: %d host_type: 0x%x \n", image.keyswitch, image.host_type);
    log_progress("\tcksum7: %x\n", image.cksum7);
}

} // namespace

// The user, CLI-mode and role tables are not dumped, only the first two's
// checksums.
void dump_kvt_image(const kvt_image_t *image)
{
    dump_header(*image);
    dump_network(*image);
    dump_misc(*image);
    dump_alert_rules(*image);
    dump_customer_and_console(*image);
    log_progress("\tcksum8:%x\n", image->cksum8);
}
