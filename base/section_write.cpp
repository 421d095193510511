#include "base/section_write.hpp"

#include "base/status.hpp"
#include "platform/card_lib.h"

namespace kvt {

int write_section(Section section)
{
    const SectionSpan &s = span_of(section);
    const int result =
        write_out_KVT(&image_bytes(kvt_image)[s.first], static_cast<int>(s.length + 1));
    status::record_section_write(section, result);
    return result;
}

int commit_section(Section section)
{
    update_checksum(kvt_image, section);
    return write_section(section);
}

} // namespace kvt
