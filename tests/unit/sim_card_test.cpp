// The simulated card library and card slot: the validator, writes outside
// the image, a pulled card and the card faults. The checksum's values are
// pinned by the golden capture, and where section writes land on the part
// by the card image tests; putting a card back and another SP's card are
// met in the daemon's own tests.
#include <cerrno>
#include <vector>

#include <gtest/gtest.h>

#include "card/image.hpp"
#include "platform/card_lib.h"
#include "platform/i2c.h"
#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvtsim::ImageBytes;
using Bytes = std::vector<unsigned char>;

const Bytes kBlankPart(kvtsim::kEepromSize, 0xFF);

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
    // Damage inside a section is the torn-write tests' own; the reserved
    // bytes are covered by no checksum.
    for (std::size_t at : {0x18A, 0x18B, 0x6F6, 0x6F7, 0x725, 0x727})
        EXPECT_TRUE(valid_with(at, 0x77)) << "offset " << at;
}

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

TEST_F(Card, PulledCardFailsEveryAccessWithEnxio)
{
    const unsigned char address[2] = {0x18, 0x00};
    unsigned char header[8] = {};
    ASSERT_EQ(kvtsim::card_pull(), 0);
    EXPECT_EQ(failure_errno([&] { return i2c_writeread(0x53, address, header, 2, 8); }), ENXIO);
    EXPECT_EQ(failure_errno([] { return read_in_KVT(&kvt_image, KVT_IMAGE_SIZE); }), ENXIO);
    EXPECT_EQ(failure_errno([] { return write_out_KVT(&kvt_image, KVT_IMAGE_SIZE); }), ENXIO);
}

TEST_F(Card, CardFaultsFailWithTheirErrnoAndAreUsedUp)
{
    kvtsim::fault_set("card.read", 0, 1);
    EXPECT_EQ(failure_errno([] { return read_in_KVT(&kvt_image, KVT_IMAGE_SIZE); }), EIO);
    EXPECT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    kvt_image.hdr_version = kvt::kImageVersion; // a change: the write has a page to program
    kvtsim::fault_set("card.write", EROFS, 1);
    EXPECT_EQ(failure_errno([] { return write_out_KVT(&kvt_image, 8); }), EROFS);
    EXPECT_EQ(write_out_KVT(&kvt_image, 8), 0);
}

} // namespace
