// The simulated card library and card slot: the checksum the daemon and
// the validator share, where writes land on the part, and a pulled card.
// Another SP's card is met at start-up in the daemon's own tests.
#include <cerrno>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "card/image.hpp"
#include "card/sections.hpp"
#include "platform/card_lib.h"
#include "platform/i2c.h"
#include "sim/card_spare.hpp"
#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvtsim::ImageBytes;
using Bytes = std::vector<unsigned char>;

const Bytes kBlankPart(kvtsim::kEepromSize, 0xFF);

struct ChecksumCase {
    Bytes bytes;
    unsigned char expected;
};

class Checksum : public testing::TestWithParam<ChecksumCase> {};

// Golden values: the XOR starts from 0x5A, so neither a zeroed nor an
// erased stretch carries its own checksum.
TEST_P(Checksum, IsTheXorOfTheBytesStartingFrom0x5A)
{
    unsigned char sum = 0;
    calculate_xor_checksum(GetParam().bytes.data(), static_cast<int>(GetParam().bytes.size()),
                           &sum);
    EXPECT_EQ(sum, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Golden, Checksum,
                         testing::Values(ChecksumCase{{}, 0x5A}, ChecksumCase{{0x00, 0x00}, 0x5A},
                                         ChecksumCase{{0xFF}, 0xA5},
                                         ChecksumCase{{0xFF, 0xFF}, 0x5A},
                                         ChecksumCase{{0x12, 0x34}, 0x7C}));

class Card : public testing::Test {
  protected:
    kvttest::SimRoot sp;
    ImageBytes valid = kvtsim::foreign_image(kvtsim::sp_mac());

    // The verdict on `valid` with byte `at` set to `value`.
    bool valid_with(std::size_t at, unsigned char value) const
    {
        ImageBytes image = valid;
        image.at(at) = value;
        return valid_KVT(image.data(), 0) != 0;
    }
};

TEST_F(Card, ValidatorWantsVersion0BAndNineCorrectChecksums)
{
    EXPECT_NE(valid_KVT(valid.data(), -7), 0);
    ImageBytes image{};
    EXPECT_EQ(valid_KVT(image.data(), 0), 0);
    image.fill(0xFF);
    EXPECT_EQ(valid_KVT(image.data(), 0), 0);
    for (unsigned char version : {0x00, 0x0A, 0x0C, 0xFF}) {
        image = valid;
        image[0] = version;
        calculate_xor_checksum(image.data(), 7, &image[7]);
        EXPECT_EQ(valid_KVT(image.data(), 0), 0) << int(version);
    }
    for (const kvt::SectionSpan &s : kvt::kSectionMap)
        for (std::size_t at : {s.first + 1, s.first + s.length - 1, s.cksum})
            EXPECT_FALSE(valid_with(at, valid.at(at) ^ 0x01)) << "offset " << at;
    // The reserved bytes are covered by no checksum.
    for (std::size_t at : {0x18A, 0x18B, 0x6F6, 0x6F7, 0x725, 0x727})
        EXPECT_TRUE(valid_with(at, 0x77)) << "offset " << at;
}

struct Stretch {
    std::size_t first;
    std::size_t length;
};

class WriteOut : public Card, public testing::WithParamInterface<Stretch> {};

TEST_P(WriteOut, LandsAt0x1800PlusOffsetAndNothingElseChanges)
{
    const auto [first, length] = GetParam();
    auto bytes = kvt::image_bytes(kvt_image);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    ASSERT_EQ(write_out_KVT(&bytes[first], static_cast<int>(length)), 0);

    Bytes expected = kBlankPart;
    std::copy_n(&bytes[first], length,
                expected.begin() + static_cast<std::ptrdiff_t>(0x1800 + first));
    // The card library's own record beside the image changes too.
    Bytes card = kvtsim::card_eeprom();
    std::fill_n(card.begin() + kvtsim::spare::kRecordAddress, kvtsim::spare::kRecordSize, 0xFF);
    EXPECT_EQ(card, expected);
}

INSTANTIATE_TEST_SUITE_P(Sections, WriteOut,
                         testing::Values(Stretch{0x000, 1832}, Stretch{0x18C, 53},
                                         Stretch{0x6F8, 45}, Stretch{0x727, 1}));

TEST_F(Card, WritesReachingOutsideTheImageAreRefused)
{
    const auto bytes = kvt::image_bytes(kvt_image);
    unsigned char elsewhere[8] = {};
    EXPECT_EQ(write_out_KVT(&bytes[1800], 33), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(write_out_KVT(elsewhere, 1), -1);
    EXPECT_EQ(write_out_KVT(bytes.data(), -1), -1);
    EXPECT_EQ(kvtsim::card_eeprom(), kBlankPart);
}

// errno after `call`, which must fail.
template <typename Call> int failure_errno(Call call)
{
    errno = 0;
    return call() != 0 ? errno : 0;
}

TEST_F(Card, PulledCardAndOtherDevicesFailEveryAccessWithEnxio)
{
    const unsigned char address[2] = {0x18, 0x00};
    unsigned char header[8] = {};
    EXPECT_EQ(failure_errno([&] { return i2c_writeread(0x50, address, header, 2, 8); }), ENXIO);
    ASSERT_EQ(kvtsim::card_insert_image(valid), 0);
    ASSERT_EQ(kvtsim::card_pull(), 0);
    EXPECT_FALSE(kvtsim::card_present());
    EXPECT_EQ(failure_errno([&] { return i2c_writeread(0x53, address, header, 2, 8); }), ENXIO);
    EXPECT_EQ(failure_errno([] { return read_in_KVT(&kvt_image, KVT_IMAGE_SIZE); }), ENXIO);
    EXPECT_EQ(failure_errno([] { return write_out_KVT(&kvt_image, KVT_IMAGE_SIZE); }), ENXIO);

    ASSERT_EQ(kvtsim::card_insert(), 0);
    ASSERT_EQ(i2c_writeread(0x53, address, header, 2, 8), 0);
    EXPECT_EQ(0, std::memcmp(header, valid.data(), 8));
    ASSERT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    EXPECT_EQ(0, std::memcmp(&kvt_image, valid.data(), KVT_IMAGE_SIZE));
}

TEST_F(Card, CardFaultsFailWithTheirErrnoAndAreUsedUp)
{
    kvtsim::fault_set("card.write", EROFS, 1);
    kvtsim::fault_set("card.read", 0, 1);
    EXPECT_EQ(failure_errno([] { return write_out_KVT(&kvt_image, 8); }), EROFS);
    EXPECT_EQ(failure_errno([] { return read_in_KVT(&kvt_image, KVT_IMAGE_SIZE); }), EIO);
    EXPECT_EQ(write_out_KVT(&kvt_image, 8), 0);
    EXPECT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
}

} // namespace
