// Checksum coverage of the card image, checked against offsets written out
// by hand. Which card bytes a section write reaches is checked where the
// writers run: network_section_test and misc_writers_test.
#include <gtest/gtest.h>

#include <set>

#include "card/sections.hpp"
#include "cardlib/checksum.hpp"
#include "platform/card_lib.h"

namespace {

constexpr std::size_t kChecksums[] = {0x007, 0x189, 0x1C0, 0x1FC, 0x518,
                                      0x542, 0x57E, 0x6F5, 0x724};

std::set<unsigned> sections_with_new_checksum(std::size_t changed_offset)
{
    kvt::Image before{}, after{};
    auto bytes = kvt::image_bytes(before);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + 3) % 251);
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

TEST(ChecksumCoverage, EndsOfASectionChangeOnlyItsChecksumOtherBytesNone)
{
    const std::size_t ends[9][2] = {{0x000, 0x006}, {0x008, 0x188}, {0x18C, 0x1BF},
                                    {0x1C1, 0x1FB}, {0x1FD, 0x517}, {0x519, 0x541},
                                    {0x543, 0x57D}, {0x57F, 0x6F4}, {0x6F8, 0x723}};
    for (unsigned n = 1; n <= 9; ++n)
        for (std::size_t at : ends[n - 1])
            EXPECT_EQ(sections_with_new_checksum(at), std::set<unsigned>{n}) << std::hex << at;
    for (std::size_t at : {0x18A, 0x18B, 0x6F6, 0x6F7, 0x725, 0x726, 0x727})
        EXPECT_EQ(sections_with_new_checksum(at), std::set<unsigned>{}) << std::hex << at;
    for (std::size_t at : kChecksums)
        EXPECT_EQ(sections_with_new_checksum(at), std::set<unsigned>{}) << std::hex << at;
}

// Zero bytes sum to the start value; a length or buffer the call cannot read
// leaves the caller's byte as it was.
TEST(XorChecksum, ZeroBytesGiveTheStartValueAndBadArgumentsChangeNothing)
{
    const unsigned char start = cardlib::checksum_start();
    const unsigned char byte = start;
    unsigned char sum = 0x11;
    calculate_xor_checksum(&byte, 0, &sum);
    EXPECT_EQ(sum, start);
    calculate_xor_checksum(&byte, 1, &sum);
    EXPECT_EQ(sum, 0);
    sum = 0x11;
    calculate_xor_checksum(&byte, -1, &sum);
    calculate_xor_checksum(nullptr, 1, &sum);
    EXPECT_EQ(sum, 0x11);
}

} // namespace
