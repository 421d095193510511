#include "sections/writer_steps.hpp"
#include "base/section_write.hpp"

#include "base/fatal_stop.hpp"
#include "base/log.hpp"

namespace kvt::writer {

void reject(ValueLine bad_line, const char *value)
{
    log_error_value(bad_line, value);
    kvtd_fatal_stop();
}

void write_or_stop(Section section, const char *write_failed)
{
    if (write_section(section) >= 0)
        return;
    log_error_line(write_failed);
    kvtd_fatal_stop();
}

void commit_or_stop(Section section, const char *write_failed)
{
    update_checksum(kvt_image, section);
    write_or_stop(section, write_failed);
}

void write_flag(const MiscFlag &flag, const char *value, ValueLine bad_line,
                const char *write_failed)
{
    write_field({Section::misc, bad_line, write_failed}, value,
                [&flag](const char *v) { return apply_flag(kvt_image.miscbits, flag, v); });
}

} // namespace kvt::writer
