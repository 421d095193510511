#include "card/sections.hpp"

#include "service/status.hpp"

namespace kvt {

void update_checksum(Image &image, Section section)
{
    const SectionSpan &s = span_of(section);
    auto bytes = image_bytes(image);
    calculate_xor_checksum(&bytes[s.first], static_cast<int>(s.length), &bytes[s.cksum]);
}

void update_all_checksums(Image &image)
{
    for (unsigned n = 1; n <= kSectionMap.size(); ++n)
        update_checksum(image, static_cast<Section>(n));
}

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
