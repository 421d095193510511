// The simulated card library and card slot: the checksum the daemon and
// the validator share, where writes land on the part, and a pulled card.
#include <cerrno>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "card/image.hpp"
#include "card/sections.hpp"
#include "platform/card_lib.h"
#include "platform/i2c.h"
#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace
{

using kvtsim::ImageBytes;

constexpr kvtsim::Mac kOtherMac{0x00, 0x14, 0x4f, 0xaa, 0xbb, 0xcc};

unsigned char checksum_of(const std::vector<unsigned char> &bytes)
{
    unsigned char sum = 0;
    calculate_xor_checksum(bytes.data(), static_cast<int>(bytes.size()), &sum);
    return sum;
}

struct ChecksumCase {
    std::vector<unsigned char> bytes;
    unsigned char expected;
};

class ChecksumTest : public testing::TestWithParam<ChecksumCase>
{
};

// Golden values: the XOR starts from 0x5A, so neither a zeroed nor an
// erased stretch carries its own checksum.
TEST_P(ChecksumTest, XorOfTheBytesStartingFrom0x5A)
{
    EXPECT_EQ(checksum_of(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Golden, ChecksumTest,
                         testing::Values(ChecksumCase{{}, 0x5A}, ChecksumCase{{0x00, 0x00}, 0x5A},
                                         ChecksumCase{{0xFF}, 0xA5},
                                         ChecksumCase{{0xFF, 0xFF}, 0x5A},
                                         ChecksumCase{{0x12, 0x34}, 0x7C}));

class CardTest : public testing::Test
{
  protected:
    kvttest::SimRoot sp;
    ImageBytes valid = kvtsim::foreign_image(kvtsim::sp_mac());
};

TEST_F(CardTest, ValidatorAcceptsVersion0BWithNineCorrectChecksums)
{
    EXPECT_NE(valid_KVT(valid.data(), 0), 0);
    EXPECT_NE(valid_KVT(valid.data(), -7), 0);
}

TEST_F(CardTest, ValidatorRejectsBlankAndZeroedImages)
{
    ImageBytes image{};
    EXPECT_EQ(valid_KVT(image.data(), 0), 0);
    image.fill(0xFF);
    EXPECT_EQ(valid_KVT(image.data(), 0), 0);
}

TEST_F(CardTest, ValidatorRejectsOtherVersionsEvenWithCorrectChecksums)
{
    for (unsigned char version : {0x00, 0x0A, 0x0C, 0xFF}) {
        ImageBytes image = valid;
        image[0] = version;
        calculate_xor_checksum(image.data(), 7, &image[7]);
        EXPECT_EQ(valid_KVT(image.data(), 0), 0) << int(version);
    }
}

class SectionByteTest : public CardTest, public testing::WithParamInterface<kvt::SectionSpan>
{
};

TEST_P(SectionByteTest, OneChangedByteOrChecksumIsRejected)
{
    const kvt::SectionSpan s = GetParam();
    for (std::size_t at : {s.first + 1, s.first + s.length - 1, s.cksum}) {
        ImageBytes image = valid;
        image.at(at) ^= 0x01;
        EXPECT_EQ(valid_KVT(image.data(), 0), 0) << "offset " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(EverySection, SectionByteTest, testing::ValuesIn(kvt::kSectionMap));

TEST_F(CardTest, ReservedBytesAreCoveredByNoChecksum)
{
    for (std::size_t at : {0x18A, 0x18B, 0x6F6, 0x6F7, 0x725, 0x727}) {
        ImageBytes image = valid;
        image.at(at) = 0x77;
        EXPECT_NE(valid_KVT(image.data(), 0), 0) << "offset " << at;
    }
}

TEST_F(CardTest, ForeignImageKeepsAValidCardAndChangesOnlyTheMac)
{
    ImageBytes mine = valid;
    const kvt::SectionSpan &customer = kvt::span_of(kvt::Section::customer);
    mine[customer.first] = 'X';
    calculate_xor_checksum(&mine[customer.first], static_cast<int>(customer.length),
                           &mine[customer.cksum]);
    ASSERT_EQ(kvtsim::card_insert_image(mine), 0);
    const ImageBytes other = kvtsim::foreign_image(kOtherMac);
    EXPECT_NE(valid_KVT(other.data(), 0), 0);
    EXPECT_EQ(other[0x519], 'X');
    EXPECT_TRUE(std::equal(kOtherMac.begin(), kOtherMac.end(), other.begin() + 1));
}

struct SectionWrite {
    std::size_t first;
    std::size_t length;
};

class WriteOutTest : public CardTest, public testing::WithParamInterface<SectionWrite>
{
};

TEST_P(WriteOutTest, LandsAt0x1800PlusOffsetAndNothingElseChanges)
{
    const auto [first, length] = GetParam();
    auto bytes = kvt::image_bytes(kvt_image);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    ASSERT_EQ(write_out_KVT(&bytes[first], static_cast<int>(length)), 0);

    std::vector<unsigned char> expected(kvtsim::kEepromSize, 0xFF);
    std::copy_n(&bytes[first], length,
                expected.begin() + static_cast<std::ptrdiff_t>(0x1800 + first));
    EXPECT_EQ(kvtsim::card_eeprom(), expected);
}

INSTANTIATE_TEST_SUITE_P(Sections, WriteOutTest,
                         testing::Values(SectionWrite{0x000, 1832}, SectionWrite{0x18C, 53},
                                         SectionWrite{0x6F8, 45}, SectionWrite{0x727, 1}));

TEST_F(CardTest, WritesReachingOutsideTheImageAreRefused)
{
    const auto bytes = kvt::image_bytes(kvt_image);
    unsigned char elsewhere[8] = {};
    EXPECT_EQ(write_out_KVT(&bytes[1800], 33), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(write_out_KVT(elsewhere, 1), -1);
    EXPECT_EQ(write_out_KVT(bytes.data(), -1), -1);
    EXPECT_EQ(kvtsim::card_eeprom(), std::vector<unsigned char>(kvtsim::kEepromSize, 0xFF));
}

TEST_F(CardTest, PulledCardFailsEveryAccessWithEnxioUntilPutBack)
{
    ASSERT_EQ(kvtsim::card_insert_image(valid), 0);
    ASSERT_EQ(kvtsim::card_pull(), 0);
    EXPECT_FALSE(kvtsim::card_present());
    const unsigned char address[2] = {0x18, 0x00};
    unsigned char header[8] = {};
    errno = 0;
    EXPECT_NE(i2c_writeread(0x53, address, header, 2, 8), 0);
    EXPECT_EQ(errno, ENXIO);
    errno = 0;
    EXPECT_LT(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    EXPECT_EQ(errno, ENXIO);
    errno = 0;
    EXPECT_LT(write_out_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    EXPECT_EQ(errno, ENXIO);

    ASSERT_EQ(kvtsim::card_insert(), 0);
    ASSERT_EQ(i2c_writeread(0x53, address, header, 2, 8), 0);
    EXPECT_EQ(0, std::memcmp(header, valid.data(), 8));
    ASSERT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    EXPECT_EQ(0, std::memcmp(&kvt_image, valid.data(), KVT_IMAGE_SIZE));
}

TEST_F(CardTest, NoOtherDeviceAnswersOnTheBus)
{
    const unsigned char address[2] = {0x18, 0x00};
    unsigned char header[8] = {};
    errno = 0;
    EXPECT_NE(i2c_writeread(0x50, address, header, 2, 8), 0);
    EXPECT_EQ(errno, ENXIO);
}

TEST_F(CardTest, CardFaultsFailWithTheirErrnoAndAreUsedUp)
{
    kvtsim::fault_set("card.write", EROFS, 1);
    kvtsim::fault_set("card.read", 0, 1);
    EXPECT_LT(write_out_KVT(&kvt_image, 8), 0);
    EXPECT_EQ(errno, EROFS);
    EXPECT_LT(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(write_out_KVT(&kvt_image, 8), 0);
    EXPECT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
}

} // namespace
