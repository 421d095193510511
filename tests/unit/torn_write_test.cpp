// Torn card writes, damaged cards and other writers against the card
// library: cut every write at every byte it programs, record slot included,
// then start again as the daemon does (read the card, judge it): the card
// must hold the old configuration or the new one, or be refused. Another
// writer's correct changes, and damage that the XOR checksums miss, are
// reported, never refused; a section that a cut left mixed stays refused
// whatever comes after it.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/section_write.hpp"
#include "card/sections.hpp"
#include "cardlib/checksum.hpp"
#include "cardlib/layout.hpp"
#include "cardlib/record.hpp"
#include "cardlib/record_units.hpp"
#include "cardlib/verdict.hpp"
#include "platform/card_lib.h"
#include "sim/card/eeprom.hpp"
#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvtsim::ImageBytes;

// Start-up's view of the card in the slot: read it whole, then judge it.
kvt_card_verdict card_verdict()
{
    kvt_card_verdict verdict{};
    EXPECT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    kvt_image_t copy = kvt_image;
    EXPECT_EQ(describe_KVT(&copy, 0, &verdict), 0);
    EXPECT_TRUE(!verdict.valid || valid_KVT(&copy, 0) != 0)
        << "the acceptance rule holds for every card accepted";
    return verdict;
}

// The verdict's reason, valid as it says, and its warning: one holding
// `warning`, or none.
void expect_verdict(const kvt_card_verdict &verdict, const char *reason, const char *warning)
{
    EXPECT_STREQ(verdict.reason, reason);
    EXPECT_EQ(verdict.valid != 0, std::string(reason) == "card valid") << verdict.reason;
    EXPECT_NE(std::string(verdict.warning).find(warning), std::string::npos) << verdict.warning;
    EXPECT_EQ(verdict.warning[0] == '\0', warning[0] == '\0') << verdict.warning;
}

// The configuration as the image holds it: sections 2 to 9, without the
// header (which carries none) and the reserved bytes (which no checksum
// covers).
ImageBytes configuration_of(ImageBytes image)
{
    for (const std::size_t at : {0x18A, 0x18B, 0x6F6, 0x6F7, 0x725, 0x726, 0x727})
        image.at(at) = 0;
    std::fill_n(image.begin(), kvt::kHeaderSize, 0);
    return image;
}

ImageBytes image_with(const ImageBytes &base, std::size_t first, std::size_t end)
{
    ImageBytes changed = base;
    for (std::size_t i = std::max<std::size_t>(first, 1); i < end; ++i)
        changed[i] = static_cast<unsigned char>(~changed[i]);
    std::memcpy(&kvt_image, changed.data(), changed.size());
    kvt::update_all_checksums(kvt_image);
    std::memcpy(changed.data(), &kvt_image, changed.size());
    return changed;
}

// Another implementation's change: it edits the image and writes it back
// with every checksum right, and touches nothing outside the image.
void other_writer(const std::function<void(kvt::Image &)> &change)
{
    kvt::Image image = kvttest::card_as_image();
    change(image);
    kvt::update_all_checksums(image);
    const auto bytes = kvt::image_bytes(image);
    ASSERT_EQ(kvtsim::eeprom::poke(cardlib::kImageAddress, bytes.data(), bytes.size()), 0);
}

// A valid card written by this library, so that its records stand beside
// the image, and read back as start-up reads it.
class TornCard : public testing::Test {
  protected:
    void SetUp() override
    {
        // The card held other customer info: the library's newest record is
        // then of a write of section 6.
        ASSERT_EQ(kvtsim::card_insert_image(image_with(old_, 0x519, 0x542)), 0);
        ASSERT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
        std::memcpy(&kvt_image, old_.data(), old_.size());
        ASSERT_EQ(write_out_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
        part_ = kvtsim::card_eeprom();
        ASSERT_TRUE(card_verdict().valid);
    }

    kvttest::SimRoot root_;
    const ImageBytes old_ = kvtsim::foreign_image(kvtsim::sp_mac());
    std::vector<unsigned char> part_;
};

// Every section write (the section with its checksum) and the whole image,
// each changing every byte it writes but the version, cut after each byte
// programmed until the write goes through whole. A cut inside the header
// page may leave a mixed header, which carries no configuration. A cut that
// left the old image whole, record or not, refuses nothing.
TEST_F(TornCard, EveryCutLeavesTheOldOrNewConfigurationOrIsRefused)
{
    std::vector<std::pair<std::size_t, std::size_t>> writes; // first byte, one past the last
    for (const kvt::SectionSpan &s : kvt::kSectionMap)
        writes.emplace_back(s.first, s.cksum + 1);
    writes.emplace_back(0, KVT_IMAGE_SIZE);

    unsigned cuts = 0, refused = 0, accepted_mix = 0;
    for (const auto &[first, end] : writes) {
        const ImageBytes changed = image_with(old_, first, end);
        for (long n = 0;; ++n) {
            ASSERT_EQ(kvtsim::eeprom::poke(0, part_.data(), part_.size()), 0);
            ASSERT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
            std::memcpy(&kvt_image, changed.data(), changed.size());
            kvtsim::fault_set("card.write_torn", n, 1);
            const auto length = static_cast<int>(end - first);
            if (write_out_KVT(&kvt::image_bytes(kvt_image)[first], length) == 0)
                break;
            const kvt_card_verdict verdict = card_verdict();
            const ImageBytes card = configuration_of(kvtsim::card_image().value());
            ++cuts;
            EXPECT_TRUE(verdict.valid || kvtsim::card_image().value() != old_)
                << "old card refused: write at " << first << ", cut at " << n;
            if (!verdict.valid)
                ++refused;
            else if (card != configuration_of(old_) && card != configuration_of(changed)) {
                ++accepted_mix;
                ADD_FAILURE() << "mix accepted: write at " << first << ", cut at " << n;
            }
        }
        kvtsim::fault_clear("card.write_torn");
        EXPECT_EQ(kvtsim::card_image().value(), changed) << "write at " << first;
    }
    RecordProperty("cut_points", std::to_string(cuts));
    RecordProperty("tears_refused", std::to_string(refused));
    std::printf("torn writes: %u cut points, %u refused, %u mixes accepted\n", cuts, refused,
                accepted_mix);
    EXPECT_EQ(accepted_mix, 0u);
}

struct Damage {
    const char *name;
    std::vector<std::pair<std::size_t, unsigned char>> xor_masks; // offset, bits flipped
    const char *reason;
    const char *warning;
};

// Damage within a section that the XOR checksum catches is refused; damage
// it misses, and a change by another writer that set the checksums right,
// are accepted, and named when they lie in the library's last write.
// clang-format off
const Damage kDamage[] = {
    {"one_bit", {{0x550, 0x04}}, "card invalid: checksum wrong in section 7", ""},
    {"two_sections", {{0x1D0, 0x01}, {0x520, 0x80}},
     "card invalid: checksum wrong in sections 4, 6", ""},
    {"same_column_pair_in_the_last_write", {{0x51A, 0x10}, {0x530, 0x10}}, "card valid",
     "section 6 changed since this card library's last write"},
    {"same_column_pair_elsewhere", {{0x200, 0x10}, {0x300, 0x10}}, "card valid", ""},
    {"other_writers_header", {{0x003, 0x11}, {0x007, 0x11}}, "card valid", ""},
    {"reserved_byte", {{0x6F6, 0xFF}}, "card valid", ""},
};
// clang-format on

using kvttest::PrintTo;

class DamagedCard : public TornCard, public testing::WithParamInterface<Damage> {};

TEST_P(DamagedCard, IsRefusedOnlyWhenTheChecksumsSeeIt)
{
    for (const auto &[at, mask] : GetParam().xor_masks) {
        const auto value = static_cast<unsigned char>(old_[at] ^ mask);
        ASSERT_EQ(kvtsim::eeprom::poke(cardlib::kImageAddress + at, &value, 1), 0);
    }
    expect_verdict(card_verdict(), GetParam().reason, GetParam().warning);
}

INSTANTIATE_TEST_SUITE_P(Cards, DamagedCard, testing::ValuesIn(kDamage), kvttest::by_name);

// ---- histories: this library's writes, cuts and another writer's changes --

// A configuration of our own, with four bytes of customer information that
// straddle a page boundary of the card (field bytes 5 and 6 lie in the page
// before 0x520, bytes 7 and 8 in the one after): "ABAB" and "BABA" differ by
// the same bits in each pair, so a cut between the two pages keeps the
// section's XOR checksum right.
kvt::Image configuration(const char *pattern)
{
    kvt::Image image{};
    std::memcpy(&image, kvtsim::foreign_image(kvtsim::sp_mac()).data(), sizeof image);
    image.customerinfo.store(std::string("rack ") + pattern + " row 4");
    image.cli_timeout.set(300);
    image.alert_rules[2].destination.store("ops@example.com");
    kvt::update_all_checksums(image);
    return image;
}

// Start-up's capture onto the card in the slot: read, then the whole image.
int capture(const kvt::Image &image, long cut_at = -1)
{
    if (read_in_KVT(&kvt_image, KVT_IMAGE_SIZE) != 0)
        return -1;
    kvt_image = image;
    if (cut_at >= 0)
        kvtsim::fault_set("card.write_torn", cut_at, 1);
    return write_out_KVT(&kvt_image, KVT_IMAGE_SIZE);
}

// A live change of customer information, as its writer makes it.
int live_customer_info(const char *pattern, long cut_at = -1)
{
    kvt_image.customerinfo.store(std::string("rack ") + pattern + " row 4");
    if (cut_at >= 0)
        kvtsim::fault_set("card.write_torn", cut_at, 1);
    return kvt::commit_section(kvt::Section::customer);
}

// The record page, then the first changed page: field bytes 5 and 6.
constexpr long kBetweenThePages = cardlib::kSlotSize + 2;

// A history after the capture: this library's steps, then another writer's
// change, if any.
struct History {
    const char *name;
    std::function<void()> ours;
    void (*theirs)(kvt::Image &);
    const char *reason; // start-up's verdict on the card it leaves
    const char *warning = "";
};

// Each history begins with a capture of configuration("ABAB").
const History kHistories[] = {
    {"capture_then_customer_info", [] {}, [](kvt::Image &i) { i.customerinfo.store("shelf 2"); },
     "card valid", "section 6 changed since"},
    {"capture_then_customer_info_and_mac", [] {},
     [](kvt::Image &i) {
         i.customerinfo.store("shelf 2");
         i.sp_mac[5] ^= 0x40;
     },
     "card valid", "section 6 changed since"},
    {"capture_then_misc", [] {}, [](kvt::Image &i) { i.cli_timeout.set(1200); }, "card valid",
     "section 4 changed since"},
    {"capture_then_a_pair_the_xor_misses", [] {},
     [](kvt::Image &i) {
         i.alert_rules[2].destination.chars[0] ^= 0x02;
         i.alert_rules[9].destination.chars[1] ^= 0x02;
     },
     "card valid", "section 5 changed since"},
    {"section_write_then_the_same_section", [] { ASSERT_EQ(live_customer_info("BABA"), 0); },
     [](kvt::Image &i) { i.customerinfo.store("rack XYBA row 5, bay 7"); }, "card valid",
     "section 6 changed since"},
    {"hand_off_mac_and_alert_rule", [] {},
     [](kvt::Image &i) {
         i.sp_mac[5] ^= 0x40;
         i.alert_rules[4].level = 3;
     },
     "card valid", "section 5 changed since"},
    {"header_write_back_then_another_header",
     [] {
         kvt::Image moved = configuration("ABAB");
         moved.sp_mac[4] ^= 0x01;
         kvt::update_all_checksums(moved);
         ASSERT_EQ(capture(moved), 0);
     },
     [](kvt::Image &i) { i.sp_mac[3] ^= 0x08; }, "card valid"},
    {"section_write_cut_after_its_record",
     [] { ASSERT_EQ(live_customer_info("BABA", cardlib::kSlotSize), -1); }, nullptr, "card valid",
     "the card library's last write never reached the card; the card holds the image from "
     "before it"},
    {"section_write_cut_between_its_pages",
     [] { ASSERT_EQ(live_customer_info("BABA", kBetweenThePages), -1); }, nullptr,
     "card invalid: write interrupted in section 6"},
    {"cut_then_another_section_changed",
     [] { ASSERT_EQ(live_customer_info("BABA", kBetweenThePages), -1); },
     [](kvt::Image &i) { i.mailhost_port.set(587); },
     "card invalid: write interrupted in section 6"},
    {"cut_then_a_capture_cut_after_its_record",
     [] {
         ASSERT_EQ(live_customer_info("BABA", kBetweenThePages), -1);
         ASSERT_EQ(capture(configuration("BABA"), cardlib::kSlotSize), -1);
     },
     nullptr, "card invalid: write interrupted in section 6"},
    {"cut_then_a_capture_that_completes",
     [] {
         ASSERT_EQ(live_customer_info("BABA", kBetweenThePages), -1);
         ASSERT_EQ(capture(configuration("BABA")), 0);
     },
     nullptr, "card valid"},
    // The capture's record and its three bytes of misc settings land, its
    // customer info does not; then another writer changes misc settings.
    // Customer info still holds what the first cut left.
    {"cut_then_a_capture_cut_before_it_then_misc",
     [] {
         ASSERT_EQ(live_customer_info("BABA", kBetweenThePages), -1);
         kvt::Image longer = configuration("BABA");
         longer.cli_timeout.set(1200);
         kvt::update_all_checksums(longer);
         ASSERT_EQ(capture(longer, cardlib::kSlotSize + 3), -1);
     },
     [](kvt::Image &i) { i.cli_timeout.set(600); }, "card invalid: write interrupted in section 6"},
};

class CardHistory : public testing::TestWithParam<History> {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(kvtsim::card_insert_blank(), 0);
        ASSERT_EQ(capture(configuration("ABAB")), 0);
    }

    kvttest::SimRoot root_;
};

TEST_P(CardHistory, IsRefusedOnlyForASectionItsOwnCutLeftMixed)
{
    ASSERT_NO_FATAL_FAILURE(GetParam().ours());
    if (GetParam().theirs) {
        ASSERT_NO_FATAL_FAILURE(other_writer(GetParam().theirs));
    }
    kvtsim::fault_clear("card.write_torn");
    expect_verdict(card_verdict(), GetParam().reason, GetParam().warning);
}

INSTANTIATE_TEST_SUITE_P(Histories, CardHistory, testing::ValuesIn(kHistories), kvttest::by_name);

// A record whose stretch reaches past the image, as a hostile card may
// hold, is no record of this library: it can neither refuse the card nor
// send a comparison outside the image. Nor is one of another layout, or of
// pages smaller than 16 or larger than 256 bytes.
TEST(RecordSlot, NamingAStretchPastTheImageOrAnotherLayoutIsNoRecord)
{
    const auto decodes = [](std::uint16_t first, std::uint16_t length, unsigned char format,
                            std::size_t page_size = 32) {
        auto bytes = cardlib::encode({.first = first, .length = length, .page_size = page_size});
        bytes[offsetof(cardlib::RecordSlot, format)] = format;
        const std::uint16_t check = cardlib::crc16(std::span(bytes).first(cardlib::kSlotSize - 2));
        bytes[cardlib::kSlotSize - 2] = static_cast<unsigned char>(check >> 8);
        bytes[cardlib::kSlotSize - 1] = static_cast<unsigned char>(check);
        return cardlib::decode(bytes).has_value();
    };
    EXPECT_TRUE(decodes(KVT_IMAGE_SIZE - 16, 16, cardlib::kRecordFormat));
    EXPECT_FALSE(decodes(KVT_IMAGE_SIZE - 16, 17, cardlib::kRecordFormat));
    EXPECT_TRUE(decodes(KVT_IMAGE_SIZE, 0, cardlib::kRecordFormat));
    EXPECT_FALSE(decodes(KVT_IMAGE_SIZE + 1, 0, cardlib::kRecordFormat));
    EXPECT_TRUE(decodes(0, 8, cardlib::kRecordFormat, 16));
    EXPECT_FALSE(decodes(0, 8, cardlib::kRecordFormat, 8));
    EXPECT_TRUE(decodes(0, 8, cardlib::kRecordFormat, 256));
    EXPECT_FALSE(decodes(0, 8, cardlib::kRecordFormat, 512));
    EXPECT_FALSE(decodes(0, 8, 0xA7));
}

// Sequences wrap: a record is newer than another when it lies less than
// half the sequence space after it. Half way round neither is, and the
// first slot's stands.
TEST(RecordSequence, TheNewestLiesLessThanHalfTheSpaceAfterTheOthers)
{
    const auto newest_slot = [](const std::vector<std::uint16_t> &sequences) {
        std::vector<unsigned char> slots;
        for (const std::uint16_t sequence : sequences) {
            const auto bytes = cardlib::encode({.sequence = sequence});
            slots.insert(slots.end(), bytes.begin(), bytes.end());
        }
        return cardlib::newest_record(slots, cardlib::kSlotSize, sequences.size()).value().slot;
    };
    EXPECT_EQ(newest_slot({0xFFFE, 0xFFFF, 0x0000, 0x0001}), 3u);
    EXPECT_EQ(newest_slot({0x0001, 0x8000}), 1u);
    EXPECT_EQ(newest_slot({0x0001, 0x8001}), 0u);
    EXPECT_EQ(newest_slot({0x8001, 0x0001}), 0u);
}

// A write that changes one byte of a configuration section, its first or
// its checksum, names that section alone.
TEST(RecordSections, AChangedFirstOrChecksumByteNamesItsSectionAlone)
{
    const std::array<unsigned char, cardlib::kImageSize> before{};
    for (std::size_t s = 1; s < kvt::kSectionMap.size(); ++s) {
        const kvt::SectionSpan &span = kvt::kSectionMap.at(s);
        for (std::size_t at : {span.first, span.cksum}) {
            auto after = before;
            after.at(at) = 0x5A;
            EXPECT_EQ(cardlib::sections_differing(before, after), 1u << (s - 1))
                << "section " << s + 1 << ", byte " << at;
        }
    }
}

// Where pieces meet inside the units: a unit is cut where a card page
// begins and where the stretch [first, end) begins or ends. The units then
// hold units.size() + joins pieces, and none was merged when joins is 0.
std::size_t joins_in(const std::vector<cardlib::Unit> &units, std::size_t page, std::size_t first,
                     std::size_t end)
{
    std::size_t joins = 0;
    for (const cardlib::Unit &unit : units)
        for (std::size_t at = unit.first + 1; at < unit.end; ++at)
            if ((cardlib::kImageAddress + at) % page == 0 || at == first || at == end)
                ++joins;
    return joins;
}

// Pieces are merged into units only when there are more of them than a
// record has room for: every write within customer info and the console
// settings, on pages of 16 and 32 bytes.
TEST(RecordUnits, AreMergedOnlyWhenThePiecesOutnumberTheRecordsRoom)
{
    const std::size_t from = kvt::span_of(kvt::Section::customer).first;
    const std::size_t to = kvt::span_of(kvt::Section::console).cksum + 1;
    const std::array<unsigned char, KVT_IMAGE_SIZE> before{};
    for (const std::size_t page : {16, 32})
        for (std::size_t first = from; first < to; ++first)
            for (std::size_t end = first + 1; end <= to; ++end) {
                std::array<unsigned char, KVT_IMAGE_SIZE> after{};
                std::fill_n(after.begin() + static_cast<long>(first), end - first, 0xFF);
                const cardlib::Record record = cardlib::record_of_write(
                    before, after, {.first = first, .length = end - first, .page_size = page}, 1);
                const std::vector<cardlib::Unit> units = cardlib::record_units(record);
                const std::size_t joins = joins_in(units, page, first, end);
                ASSERT_TRUE(joins == 0 || units.size() + joins > cardlib::kUnits)
                    << "page " << page << ", write [" << first << ", " << end << ")";
            }
}

// Every unit of the stretch reads as the write left it, yet the sections'
// CRC is not the one it left: the 8-bit fingerprint of the last unit took
// bytes that are neither. No cut can be placed, and the card is refused in
// the last unit's section.
TEST(RecordVerdict, AStretchReadAsLeftWhoseCrcIsNotIsRefusedInItsLastSection)
{
    kvt::Image found{};
    found.hdr_version = kvt::kImageVersion;
    kvt::update_all_checksums(found);
    kvt::Image left = found;
    left.customerinfo.store("rack 12 row 4, left of the door");
    kvt::update_all_checksums(left);
    const kvt::SectionSpan &customer = kvt::span_of(kvt::Section::customer);
    const cardlib::Record record = cardlib::record_of_write(
        kvt::image_bytes(found), kvt::image_bytes(left), {customer.first, customer.length + 1}, 1);
    const cardlib::Unit last = cardlib::record_units(record).back();
    ASSERT_EQ(last.section, 5U);

    // Two bytes of the last unit flipped alike keep the XOR checksum; find
    // a flip its fingerprint does not see.
    const auto left_print = cardlib::unit_fingerprint(kvt::image_bytes(left), last.first, last.end);
    const auto unseen = [&](const kvt::Image &image) {
        return cardlib::unit_fingerprint(kvt::image_bytes(image), last.first, last.end) ==
                   left_print &&
               cardlib::sections_crc(kvt::image_bytes(image), record.sections) != record.crc_after;
    };
    kvt::Image seen = left;
    for (unsigned mask = 1; mask < 256 && !unseen(seen); ++mask) {
        seen = left;
        kvt::image_bytes(seen)[last.first] ^= static_cast<unsigned char>(mask);
        kvt::image_bytes(seen)[last.first + 1] ^= static_cast<unsigned char>(mask);
    }
    ASSERT_TRUE(unseen(seen));
    const cardlib::CardVerdict verdict = cardlib::classify_card(kvt::image_bytes(seen), record);
    EXPECT_EQ(cardlib::verdict_reason(verdict), "card invalid: write interrupted in section 6");
}

// A record that names no section yet holds CRCs that no image gives, as a
// card from elsewhere may: no unit can hold a cut, so it refuses nothing,
// and the sound card stands.
TEST(RecordVerdict, ARecordOfNoSectionRefusesNothing)
{
    kvt::Image image{};
    image.hdr_version = kvt::kImageVersion;
    kvt::update_all_checksums(image);
    cardlib::Record record;
    record.first = static_cast<std::uint16_t>(kvt::span_of(kvt::Section::customer).first);
    record.sections = 0;
    const std::uint16_t crc = cardlib::sections_crc(kvt::image_bytes(image), record.sections);
    record.crc_before = static_cast<std::uint16_t>(crc + 1);
    record.crc_after = static_cast<std::uint16_t>(crc + 2);
    ASSERT_TRUE(cardlib::record_units(record).empty());
    const cardlib::CardVerdict verdict = cardlib::classify_card(kvt::image_bytes(image), record);
    EXPECT_EQ(cardlib::verdict_reason(verdict), "card valid");
}

} // namespace
