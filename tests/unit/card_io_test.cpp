// The card library's I/O at the physical floor: a change programs the pages
// holding a changed byte, once each, plus one record slot; it reads only the
// record's stamp; the slots take turns; a card put in meanwhile is read again.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "base/section_write.hpp"
#include "card/sections.hpp"
#include "cardlib/card_copy.hpp"
#include "cardlib/eeprom_part.hpp"
#include "cardlib/i2c_eeprom_device.hpp"
#include "cardlib/layout.hpp"
#include "platform/card_lib.h"
#include "platform/i2c.h"
#include "sim/card/card_chip.hpp"
#include "sim/control.hpp"
#include "tests/support/failure_errno.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvt::Section;

constexpr std::size_t kPage = 32;

// Card and kvt_image hold the same valid image, written by the library, as
// after a start-up.
class CardIo : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(kvtsim::card_insert_blank(), 0);
        ASSERT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
        const kvtsim::ImageBytes image = kvtsim::foreign_image(kvtsim::sp_mac());
        std::memcpy(&kvt_image, image.data(), image.size());
        ASSERT_EQ(write_out_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
        kvtsim::card_io_reset();
        kvtsim::card_page_programs_reset();
    }

    kvttest::SimRoot root_;
};

// Pages of the image area holding a byte that differs.
std::size_t pages_differing(const std::vector<unsigned char> &a,
                            const std::vector<unsigned char> &b)
{
    std::size_t pages = 0;
    for (std::size_t page = cardlib::kImageAddress; page < cardlib::kImageEnd; page += kPage)
        if (!std::equal(a.begin() + static_cast<long>(page),
                        a.begin() + static_cast<long>(std::min(page + kPage, cardlib::kImageEnd)),
                        b.begin() + static_cast<long>(page)))
            ++pages;
    return pages;
}

struct Change {
    const char *name;
    std::function<void()> edit; // changes kvt_image
    Section section;            // written as the daemon's writers do; header: the whole image
    std::size_t pages;          // image pages holding a changed byte
};

// Image offset N lies in page N / 32 (card address 0x1800 starts a page).
const Change kChanges[] = {
    // the port 0x57A and cksum7 0x57E share page 43
    {"smtp_port", [] { kvt_image.mailhost_port.set(2525); }, Section::console, 1},
    // the text in page 40, cksum6 0x542 in page 42
    {"customer_info", [] { kvt_image.customerinfo.store("r7"); }, Section::customer, 2},
    // rule 15's level 0x516 and cksum5 0x518 share page 40
    {"rule15_level", [] { kvt_image.alert_rules[14].level = 7; }, Section::alerts, 1},
    // rule 3's level 0x29A in page 20, cksum5 in page 40
    {"rule3_level", [] { kvt_image.alert_rules[2].level = 7; }, Section::alerts, 2},
    // the fatal stop: only the version changes, in page 0
    {"invalidated_image", [] { kvt_image.hdr_version = kvt::kInvalidatedVersion; }, Section::header,
     1},
};

using kvttest::PrintTo;

class PagesPerChange : public CardIo, public testing::WithParamInterface<Change> {};

TEST_P(PagesPerChange, ProgramsChangedPagesOnceAndOneSlotAndReadsOnlyTheStamp)
{
    const Change &c = GetParam();
    const std::vector<unsigned char> before = kvtsim::card_eeprom();
    c.edit();
    ASSERT_EQ(c.section == Section::header ? write_out_KVT(&kvt_image, KVT_IMAGE_SIZE)
                                           : kvt::commit_section(c.section),
              0);

    const std::vector<unsigned char> after = kvtsim::card_eeprom();
    ASSERT_EQ(pages_differing(before, after), c.pages);
    const kvtsim::CardIo io = kvtsim::card_io();
    EXPECT_EQ(io.pages_programmed, c.pages + 1) << "and one record slot";
    EXPECT_EQ(std::ranges::max(kvtsim::card_page_programs()), 1u) << "no page twice";
    EXPECT_EQ(io.reads, 1u);
    EXPECT_EQ(io.bytes_read, 4u) << "the newest record's check and sequence";
    EXPECT_TRUE(std::equal(kvt::image_bytes(kvt_image).begin(), kvt::image_bytes(kvt_image).end(),
                           after.begin() + static_cast<long>(cardlib::kImageAddress)));
}

INSTANTIATE_TEST_SUITE_P(Changes, PagesPerChange, testing::ValuesIn(kChanges), kvttest::by_name);

TEST_F(CardIo, AWriteThatChangesNoByteProgramsNothing)
{
    ASSERT_EQ(kvt::commit_section(Section::console), 0);
    ASSERT_EQ(write_out_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    EXPECT_EQ(kvtsim::card_io().pages_programmed, 0u);
}

// Each write takes the next slot, so a slot page wears at a fraction of the
// rate of a data page that every change programs: with the six slots of
// the board's 24C64, and the fewest and the most a card can have: one when
// the image is placed (as kvtcard may place it) a page from the part's end,
// none when it ends with the part (written then without a record), eight
// on a larger part (a 24C128, as a board's part setting may name).
struct SlotCase {
    const char *name;
    const char *part;
    std::size_t image_address;
    std::size_t slots;
};

// A blank card of the case's part in the slot, the chip paging as that
// part does until the test ends.
class SlotCard : public testing::TestWithParam<SlotCase> {
  protected:
    void SetUp() override
    {
        kvtsim::card_chip().set_model({.page = part_.page});
        ASSERT_EQ(kvtsim::card_insert_blank(part_.size), 0);
    }
    void TearDown() override { kvtsim::card_chip().set_model({}); }

    kvttest::SimRoot root_;
    const cardlib::EepromPart part_ = cardlib::part_named(GetParam().part).value();
};

class CardCopySlots : public SlotCard {};

TEST_P(CardCopySlots, TakeTurns)
{
    const SlotCase &c = GetParam();
    cardlib::I2cEepromDevice device(kvtsim::card_chip(), cardlib::kCardI2cAddress, part_);
    const cardlib::CardLayout layout = cardlib::layout_for(part_.size, part_.page, c.image_address);
    ASSERT_EQ(layout.slot_count, c.slots);
    cardlib::CardCopy copy(c.image_address);
    ASSERT_EQ(copy.read_card(device), 0);
    kvtsim::card_page_programs_reset();
    const std::size_t rounds = 2 * std::max<std::size_t>(c.slots, 1);
    for (std::size_t round = 0; round < rounds; ++round) {
        const unsigned char byte[] = {static_cast<unsigned char>(round + 1)};
        ASSERT_EQ(copy.write(device, 0x57A, byte), 0);
    }
    const std::vector<std::uint64_t> programs = kvtsim::card_page_programs();
    for (std::size_t slot = 0; slot < c.slots; ++slot)
        EXPECT_EQ(programs.at(layout.slot_address(slot) / part_.page), 2u) << "slot " << slot;
    EXPECT_EQ(std::ranges::max(programs), rounds) << "the hottest page is the port's";
}

// Two writers with copies of their own on one card, as kvtd and kvtcard on
// a live SP: each write after the other's record reads the card again, from
// a card without any record yet, with the newest slot's check beside the
// next slot's sequence or a page away; a write with nothing between, or
// just after a whole read, reads only the stamp.
class TwoWriters : public SlotCard {};

TEST_P(TwoWriters, AWriteAfterTheOthersRecordReadsTheCardAgain)
{
    const SlotCase &c = GetParam();
    cardlib::I2cEepromDevice device_a(kvtsim::card_chip(), cardlib::kCardI2cAddress, part_);
    cardlib::I2cEepromDevice device_b(kvtsim::card_chip(), cardlib::kCardI2cAddress, part_);
    cardlib::CardCopy a(c.image_address), b(c.image_address);
    ASSERT_EQ(a.read_card(device_a), 0);
    ASSERT_EQ(b.read_card(device_b), 0);

    const auto write = [](cardlib::CardCopy &copy, cardlib::EepromDevice &device,
                          std::size_t offset, unsigned char value) {
        kvtsim::card_io_reset();
        const unsigned char byte[] = {value};
        EXPECT_EQ(copy.write(device, offset, byte), 0);
        return kvtsim::card_io().bytes_read;
    };
    write(b, device_b, 0x57A, 1);
    EXPECT_GE(write(a, device_a, 0x57B, 2), KVT_IMAGE_SIZE) << "b's first record";
    EXPECT_GE(write(b, device_b, 0x57C, 3), KVT_IMAGE_SIZE) << "a's record";
    EXPECT_GE(write(a, device_a, 0x57D, 4), KVT_IMAGE_SIZE) << "b's second record";
    EXPECT_LE(write(a, device_a, 0x57E, 5), 4u) << "nothing between";

    cardlib::CardCopy fresh(c.image_address);
    ASSERT_EQ(fresh.read_card(device_a), 0);
    EXPECT_EQ(fresh.image(), a.image());
    const unsigned char expected[] = {1, 2, 3, 4, 5};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), a.image().begin() + 0x57A));
    EXPECT_LE(write(fresh, device_a, 0x57F, 6), 4u) << "a copy just read";
}

constexpr SlotCase kSixSlots{"SixSlots", "24c64", 0x1800, 6};
constexpr SlotCase kOneSlot{"OneSlot", "24c64", 8160 - KVT_IMAGE_SIZE, 1};
constexpr SlotCase kEightSlots{"EightSlots", "24c128", 0x1800, 8};

INSTANTIATE_TEST_SUITE_P(Parts, CardCopySlots,
                         testing::Values(kSixSlots, kOneSlot,
                                         SlotCase{"NoSlot", "24c64", 8192 - KVT_IMAGE_SIZE, 0},
                                         kEightSlots),
                         kvttest::by_name);
INSTANTIATE_TEST_SUITE_P(Parts, TwoWriters, testing::Values(kSixSlots, kOneSlot, kEightSlots),
                         kvttest::by_name);

// A card put in the slot since the last write: the library's copy no longer
// holds, the card is read again and gets the whole difference.
TEST_F(CardIo, ACardPutInMeanwhileIsReadAgain)
{
    kvt::Image other = kvttest::card_as_image();
    other.customerinfo.chars[0] = 'Q';
    kvt::update_all_checksums(other);
    ASSERT_EQ(kvtsim::card_insert_image(kvt::image_bytes(other)), 0);

    kvt_image.mailhost_port.set(2525);
    ASSERT_EQ(kvt::commit_section(Section::console), 0);
    ASSERT_EQ(write_out_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    const kvtsim::ImageBytes card = kvtsim::card_image().value();
    EXPECT_TRUE(std::equal(card.begin(), card.end(), kvt::image_bytes(kvt_image).begin()));
    EXPECT_GE(kvtsim::card_io().bytes_read, KVT_IMAGE_SIZE);
}

// The record judges the card it was written to; any other image, here a
// valid one with other customer info, is judged by the acceptance rule. No
// image at all is never valid.
TEST_F(CardIo, AnImageThatIsNotTheCardIsJudgedWithoutTheRecord)
{
    kvt_image_t other = kvt_image;
    other.customerinfo.store("r7");
    kvt::update_all_checksums(other);
    kvt_card_verdict verdict{};
    ASSERT_EQ(describe_KVT(&other, 0, &verdict), 0);
    EXPECT_EQ(verdict.valid, 1);
    EXPECT_STREQ(verdict.reason, "card valid");
    EXPECT_STREQ(verdict.warning, "");

    EXPECT_EQ(valid_KVT(nullptr, 0), 0);
    EXPECT_EQ(describe_KVT(nullptr, 0, &verdict), -1);
    EXPECT_EQ(describe_KVT(&other, 0, nullptr), -1);
}

// Only bytes of kvt_image reach the card, and only at their own place; a
// read takes from none to all of the image's bytes.
TEST_F(CardIo, ReadsAndWritesReachingOutsideTheImageAreRefused)
{
    const std::vector<unsigned char> before = kvtsim::card_eeprom();
    const auto bytes = kvt::image_bytes(kvt_image);
    unsigned char elsewhere[8] = {};
    EXPECT_EQ(write_out_KVT(&bytes[1800], 33), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(write_out_KVT(elsewhere, 1), -1);
    EXPECT_EQ(write_out_KVT(bytes.data(), -1), -1);
    EXPECT_EQ(kvtsim::card_eeprom(), before);

    std::vector<unsigned char> read(KVT_IMAGE_SIZE + 1);
    EXPECT_EQ(read_in_KVT(read.data(), -1), -1);
    EXPECT_EQ(read_in_KVT(read.data(), KVT_IMAGE_SIZE + 1), -1);
    EXPECT_EQ(read_in_KVT(read.data(), 0), 0);
    EXPECT_EQ(read_in_KVT(read.data(), KVT_IMAGE_SIZE), 0);
}

// The slots start at the first page boundary after the image: at most eight
// of them, none on a part without room for the image or with pages smaller
// than a slot.
TEST(CardLayout, SlotsFollowTheImageUpToEight)
{
    EXPECT_EQ(cardlib::layout_for(65536, 32).first_slot, 8000u);
    EXPECT_EQ(cardlib::layout_for(65536, 32).slot_count, 8u);
    EXPECT_EQ(cardlib::layout_for(65536, 31).slot_count, 0u);
    EXPECT_EQ(cardlib::layout_for(cardlib::kImageEnd, 32).first_slot, 8000u);
    EXPECT_EQ(cardlib::layout_for(cardlib::kImageEnd - 1, 32).first_slot, 0u);
    // An image ending one byte into a page, and one ending with a page.
    EXPECT_EQ(cardlib::layout_for(8192, 32, 7969 - cardlib::kImageSize).first_slot, 8000u);
    EXPECT_EQ(cardlib::layout_for(8192, 32, 8000 - cardlib::kImageSize).first_slot, 8000u);
}

// The errno the header read's transfer left when it failed; 0 when it did not.
int transfer_errno(int device, const unsigned char *write, unsigned char *read, int write_len,
                   int read_len)
{
    return kvttest::failure_errno(
        [&] { return i2c_writeread(device, write, read, write_len, read_len); });
}

// The header read's transfer refuses what no I2C message can carry, and a
// length without its buffer.
TEST(I2cWriteRead, RefusesAnAddressBeyondSevenBitsAndEmptyOrNegativeLengths)
{
    unsigned char byte = 0;
    const int bad[][3] = {{0x80, 1, 1}, {-1, 1, 1}, {0x53, 0, 0}, {0x53, -1, 1}};
    for (const auto &[device, write_len, read_len] : bad)
        EXPECT_EQ(transfer_errno(device, &byte, &byte, write_len, read_len), EINVAL) << device;
    EXPECT_EQ(transfer_errno(0x53, nullptr, &byte, 1, 1), EINVAL) << "no write buffer";
    EXPECT_EQ(transfer_errno(0x53, &byte, nullptr, 1, 1), EINVAL) << "no read buffer";
}

// Addresses 0 and 0x7F are tried on the bus, where no part answers them.
TEST_F(CardIo, TheEndsOfSevenBitsAreAddressesToTry)
{
    const unsigned char address[] = {0x18, 0x00};
    unsigned char byte = 0;
    for (const int device : {0x00, 0x7F}) {
        const int error = transfer_errno(device, address, &byte, 2, 1);
        EXPECT_NE(error, 0) << device;
        EXPECT_NE(error, EINVAL) << device;
    }
}

// A write with no read sets the part's address; a read with no write reads on
// from it. Neither needs the other's buffer.
TEST_F(CardIo, AWriteOnlyThenAReadOnlyTransferReadFromTheAddressSet)
{
    const unsigned char address[] = {0x18, 0x00};
    unsigned char byte = 0;
    ASSERT_EQ(i2c_writeread(0x53, address, nullptr, 2, 0), 0);
    ASSERT_EQ(i2c_writeread(0x53, nullptr, &byte, 0, 1), 0);
    EXPECT_EQ(byte, kvtsim::card_eeprom()[cardlib::kImageAddress]);
}

} // namespace
