#include "card/sections.hpp"

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

} // namespace kvt
