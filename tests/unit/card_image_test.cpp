// Checksum coverage, partial-write extents and field offsets of the card
// image, checked against offsets written out by hand.
#include <gtest/gtest.h>

#include <set>

#include "card/sections.hpp"
#include "cardlib/layout.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvt::Section;

constexpr std::size_t kChecksums[] = {0x007, 0x189, 0x1C0, 0x1FC, 0x518,
                                      0x542, 0x57E, 0x6F5, 0x724};

void fill_pattern(kvt::Image &image)
{
    auto bytes = kvt::image_bytes(image);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + 3) % 251);
}

std::set<unsigned> sections_with_new_checksum(std::size_t changed_offset)
{
    kvt::Image before{}, after{};
    fill_pattern(before);
    kvt::update_all_checksums(before);
    after = before;
    kvt::image_bytes(after)[changed_offset] ^= 0x5A;
    kvt::update_all_checksums(after);
    std::set<unsigned> changed;
    for (unsigned n = 0; n < 9; ++n)
        if (kvt::image_bytes(before)[kChecksums[n]] != kvt::image_bytes(after)[kChecksums[n]])
            changed.insert(n + 1);
    return changed;
}

TEST(ChecksumCoverage, ReservedAndChecksumBytesChangeNoChecksum)
{
    for (std::size_t at : {0x18A, 0x18B, 0x6F6, 0x6F7, 0x725, 0x726, 0x727})
        EXPECT_EQ(sections_with_new_checksum(at), std::set<unsigned>{}) << std::hex << at;
    for (std::size_t at : kChecksums)
        EXPECT_EQ(sections_with_new_checksum(at), std::set<unsigned>{}) << std::hex << at;
}

TEST(ChecksumCoverage, FirstAndLastByteOfASectionChangeOnlyItsChecksum)
{
    const std::size_t ends[9][2] = {{0x000, 0x006}, {0x008, 0x188}, {0x18C, 0x1BF},
                                    {0x1C1, 0x1FB}, {0x1FD, 0x517}, {0x519, 0x541},
                                    {0x543, 0x57D}, {0x57F, 0x6F4}, {0x6F8, 0x723}};
    for (unsigned n = 1; n <= 9; ++n)
        for (std::size_t at : ends[n - 1])
            EXPECT_EQ(sections_with_new_checksum(at), std::set<unsigned>{n}) << std::hex << at;
}

// Commits one section of a patterned kvt_image to a blank card: exactly the
// card bytes from `first` to `last` (image offsets) change, to the image's.
void expect_commit_writes(Section section, std::size_t first, std::size_t last)
{
    kvttest::SimRoot root;
    ASSERT_EQ(kvtsim::card_insert_blank(), 0);
    fill_pattern(kvt_image);
    const std::vector<unsigned char> before = kvtsim::card_eeprom();
    ASSERT_GE(kvt::commit_section(section), 0);
    const std::vector<unsigned char> after = kvtsim::card_eeprom();
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t at = 0; at < after.size(); ++at) {
        if (at >= cardlib::layout_for(kvtsim::kEepromSize, 32).first_slot)
            continue; // the card library's own records beside the image
        const std::size_t offset = at - kvtsim::kImageOffset;
        const bool written = at >= kvtsim::kImageOffset && offset >= first && offset <= last;
        ASSERT_EQ(after[at], written ? kvt::image_bytes(kvt_image)[offset] : before[at])
            << "card address " << std::hex << at;
    }
}

TEST(PartialWrite, CoversTheSectionAndItsChecksumOnly)
{
    expect_commit_writes(Section::network, 0x18C, 0x1C0);
    expect_commit_writes(Section::roles, 0x6F8, 0x724);
}

} // namespace
