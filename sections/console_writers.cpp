// Live writers of section 7: console escape characters, mail host address
// and port, keyswitch.
#include <cstdint>
#include <cstring>

#include "base/log.hpp"
#include "sections/writer_steps.hpp"
#include "sections/writers.hpp"

using kvt::Section;
using kvt::writer::write_field;

namespace {

constexpr const char *kMailhostWriteFailed = "write_mailhost: write_KVT failed!\n";
constexpr int kHighestKeyswitch = 3;

} // namespace

void kvtd_write_escapechars(const char *value)
{
    write_field({Section::console, nullptr, "write_escapechars: write_KVT failed!\n"}, value,
                [](const char *v) {
                    if (std::strlen(v) > 2)
                        log_progress("write_escapechars: sequence too long (%s), truncating to 2 "
                                     "characters\n",
                                     v);
                    kvt_image.escapechars.store(v);
                    return true;
                });
}

void kvtd_write_mailhost_address(const char *value)
{
    write_field({Section::console, nullptr, kMailhostWriteFailed}, value, [](const char *v) {
        kvt_image.mailhost_address.store(v);
        return true;
    });
}

void kvtd_write_mailhost_port(const char *value)
{
    // This one line carries no value.
    write_field({Section::console, "write_mailhost: error parsing port\n", kMailhostWriteFailed},
                value, [](const char *v) {
                    std::uint16_t port = 0;
                    if (!kvt::parse_smtp_port(v, &port))
                        return false;
                    kvt_image.mailhost_port.set(port);
                    return true;
                });
}

void kvtd_write_keyswitch(const char *value)
{
    int position = 0;
    if (!kvt::parse_decimal(value, &position) || position < 0 || position > kHighestKeyswitch)
        kvt::writer::reject("kvtd_write_keyswitch: error parsing value (%s)\n", value);
    kvt_image.keyswitch = static_cast<unsigned char>(position);
    log_progress("kvtd_write_keyswitch: val=%d\n", position);
    kvt::update_checksum(kvt_image, Section::console);
    log_progress("check valid\n");
    kvt::writer::write_or_stop(Section::console, "write_keyswitch: write_KVT failed!\n");
    log_progress("kvtd_write_keyswitch: returning\n");
}
