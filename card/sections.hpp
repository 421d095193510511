// The section map: where each section lies and which byte closes it.
#pragma once

#include <array>
#include <cstddef>

#include "card/image.hpp"

namespace kvt {

enum class Section : unsigned {
    header = 1,
    users = 2,
    network = 3,
    misc = 4,
    alerts = 5,
    customer = 6,
    console = 7,
    climodes = 8,
    roles = 9,
};

struct SectionSpan {
    std::size_t first;  // offset of the section's first byte
    std::size_t length; // bytes covered by the checksum
    std::size_t cksum;  // offset of the checksum byte, right after the section
};

inline constexpr std::array<SectionSpan, 9> kSectionMap{{
    {0x000, offsetof(Image, cksum1) - 0x000, offsetof(Image, cksum1)},
    {offsetof(Image, user_table), 385, offsetof(Image, cksum2)},
    {offsetof(Image, netflags), 52, offsetof(Image, cksum3)},
    {offsetof(Image, diag_trigger), 59, offsetof(Image, cksum4)},
    {offsetof(Image, alert_rules), 795, offsetof(Image, cksum5)},
    {offsetof(Image, customerinfo), 41, offsetof(Image, cksum6)},
    {offsetof(Image, escapechars), 59, offsetof(Image, cksum7)},
    {offsetof(Image, climode_table), 374, offsetof(Image, cksum8)},
    {offsetof(Image, role_table), 44, offsetof(Image, cksum9)},
}};

constexpr const SectionSpan &span_of(Section section)
{
    return kSectionMap.at(static_cast<unsigned>(section) - 1);
}

inline constexpr std::array<const char *, 9> kSectionNames{
    "header",        "users",   "network",   "misc",  "alert rules",
    "customer info", "console", "CLI modes", "roles",
};

constexpr const char *section_name(Section section)
{
    return kSectionNames.at(static_cast<unsigned>(section) - 1);
}

constexpr bool sections_are_contiguous_with_checksums()
{
    for (const SectionSpan &s : kSectionMap)
        if (s.first + s.length != s.cksum)
            return false;
    return true;
}

constexpr std::size_t bytes_in_sections()
{
    std::size_t total = 0;
    for (const SectionSpan &s : kSectionMap)
        total += s.length + 1;
    return total;
}

static_assert(sections_are_contiguous_with_checksums());
// Sections with their checksum bytes plus 2 + 2 + 3 reserved bytes.
static_assert(bytes_in_sections() + 7 == KVT_IMAGE_SIZE);

// Recomputes the section's checksum in `image`.
void update_checksum(Image &image, Section section);

// Recomputes all nine checksums in section order.
void update_all_checksums(Image &image);

} // namespace kvt
