// Torn card writes and damaged cards against the card library: cut every
// write at every byte it programs, record slot included, then start again
// as the daemon does (read the card, validate it): the card must hold the
// old image or the new one, or be refused. Damage and other writers'
// changes that the XOR checksums miss are reported, never refused.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/sections.hpp"
#include "cardlib/layout.hpp"
#include "cardlib/record.hpp"
#include "platform/card_lib.h"
#include "sim/control.hpp"
#include "sim/eeprom.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvtsim::ImageBytes;

void poke_image(std::size_t offset, unsigned char value)
{
    ASSERT_EQ(kvtsim::eeprom::poke(cardlib::kImageAddress + offset, &value, 1), 0);
}

// Start-up's view of the card in the slot: read it whole, then judge it.
kvt_card_verdict card_verdict()
{
    kvt_card_verdict verdict{};
    EXPECT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    kvt_image_t copy = kvt_image;
    EXPECT_EQ(describe_KVT(&copy, 0, &verdict), 0);
    EXPECT_EQ(verdict.valid, valid_KVT(&copy, 0)) << "one verdict for both";
    return verdict;
}

// The image with its reserved bytes, which no checksum covers, cleared.
ImageBytes sections_of(ImageBytes image)
{
    for (const std::size_t at : {0x18A, 0x18B, 0x6F6, 0x6F7, 0x725, 0x726, 0x727})
        image.at(at) = 0;
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

struct Stretch {
    std::size_t first;
    std::size_t end; // one past the last byte written
};

// Every section write (the section with its checksum) and the whole image,
// each changing every byte it writes but the version, cut after each byte
// programmed until the write goes through whole.
TEST_F(TornCard, EveryCutLeavesTheOldOrNewImageOrIsRefused)
{
    std::vector<Stretch> writes;
    for (const kvt::SectionSpan &s : kvt::kSectionMap)
        writes.push_back({s.first, s.cksum + 1});
    writes.push_back({0, KVT_IMAGE_SIZE});

    unsigned cuts = 0, refused = 0, accepted_mix = 0;
    for (const Stretch &w : writes) {
        const ImageBytes changed = image_with(old_, w.first, w.end);
        for (long n = 0;; ++n) {
            ASSERT_EQ(kvtsim::eeprom::poke(0, part_.data(), part_.size()), 0);
            ASSERT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
            std::memcpy(&kvt_image, changed.data(), changed.size());
            kvtsim::fault_set("card.write_torn", n, 1);
            const int written = write_out_KVT(&kvt::image_bytes(kvt_image)[w.first],
                                              static_cast<int>(w.end - w.first));
            if (written == 0)
                break;
            const kvt_card_verdict verdict = card_verdict();
            const ImageBytes card = sections_of(kvtsim::card_image().value());
            ++cuts;
            if (!verdict.valid)
                ++refused;
            else if (card != sections_of(old_) && card != sections_of(changed)) {
                ++accepted_mix;
                ADD_FAILURE() << "mix accepted: write at " << w.first << ", cut at " << n;
            }
        }
        kvtsim::fault_clear("card.write_torn");
        EXPECT_EQ(kvtsim::card_image().value(), changed) << "write at " << w.first;
    }
    RecordProperty("cut_points", std::to_string(cuts));
    RecordProperty("tears_refused", std::to_string(refused));
    std::printf("torn writes: %u cut points, %u refused, %u mixes accepted\n", cuts, refused,
                accepted_mix);
    EXPECT_EQ(accepted_mix, 0u);
}

// A cut that the XOR checksum cannot see (four bytes change alike, two of
// them reach the card) is named by the record, with the section it hit.
TEST_F(TornCard, ATearTheChecksumMissesIsNamedBySection)
{
    ASSERT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    for (std::size_t i = 0; i < 4; ++i)
        kvt_image.mailhost_address.chars[i] ^= 0x21;
    kvtsim::fault_set("card.write_torn", cardlib::kSlotSize + 2, 1);
    ASSERT_EQ(kvt::write_section(kvt::Section::console), -1);

    const kvt_card_verdict verdict = card_verdict();
    EXPECT_FALSE(verdict.valid);
    EXPECT_STREQ(verdict.reason, "card invalid: write interrupted in section 7");
}

// A restore's write-back changes the header and later sections in one
// stretch; another writer that then changes only the header (its checksum
// made good) leaves a card that holds what someone meant: a warning only.
TEST_F(TornCard, AHeaderRewrittenAfterAWriteSpanningSectionsIsAnotherWritersChange)
{
    ASSERT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    kvt_image.sp_mac[5] ^= 0x01;
    kvt_image.customerinfo.chars[0] ^= 0x01;
    kvt::update_all_checksums(kvt_image);
    ASSERT_EQ(write_out_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    for (const std::size_t at : {0x003, 0x007})
        poke_image(at, static_cast<unsigned char>(kvt::image_bytes(kvt_image)[at] ^ 0x11));

    const kvt_card_verdict verdict = card_verdict();
    EXPECT_TRUE(verdict.valid) << verdict.reason;
    EXPECT_NE(std::string(verdict.warning).find("section 1 changed since"), std::string::npos)
        << verdict.warning;
}

struct Damage {
    const char *name;
    std::vector<std::pair<std::size_t, unsigned char>> xor_masks; // offset, bits flipped
    bool valid;
    const char *reason;
    const char *warning;
};

// Damage within a section that the XOR checksum catches is refused; damage
// it misses, and a change by another writer that set the checksums right,
// are accepted and named, since the card then holds a configuration someone
// may have meant.
const Damage kDamage[] = {
    {"one_bit", {{0x550, 0x04}}, false, "card invalid: checksum wrong in section 7", ""},
    {"two_sections",
     {{0x1D0, 0x01}, {0x520, 0x80}},
     false,
     "card invalid: checksum wrong in sections 4, 6",
     ""},
    {"same_column_pair",
     {{0x200, 0x10}, {0x300, 0x10}},
     true,
     "card valid",
     "section 5 changed since this card library's last write"},
    {"other_writers_header",
     {{0x003, 0x11}, {0x007, 0x11}},
     true,
     "card valid",
     "section 1 changed since"},
    {"reserved_byte", {{0x6F6, 0xFF}}, true, "card valid", ""},
};

using kvttest::PrintTo;

class DamagedCard : public TornCard, public testing::WithParamInterface<Damage> {};

TEST_P(DamagedCard, IsRefusedOnlyWhenTheChecksumsSeeIt)
{
    for (const auto &[at, mask] : GetParam().xor_masks)
        poke_image(at, static_cast<unsigned char>(old_[at] ^ mask));
    const kvt_card_verdict verdict = card_verdict();
    EXPECT_EQ(verdict.valid != 0, GetParam().valid);
    EXPECT_STREQ(verdict.reason, GetParam().reason);
    EXPECT_NE(std::string(verdict.warning).find(GetParam().warning), std::string::npos)
        << verdict.warning;
    EXPECT_EQ(verdict.warning[0] == '\0', GetParam().warning[0] == '\0') << verdict.warning;
}

INSTANTIATE_TEST_SUITE_P(Cards, DamagedCard, testing::ValuesIn(kDamage), kvttest::by_name);

// A record whose stretch reaches past the image, as a hostile card may
// hold, is no record of this library: it can neither refuse the card nor
// send a comparison outside the image.
TEST(RecordSlot, NamingAStretchPastTheImageIsNoRecord)
{
    const auto decodes = [](std::size_t first, std::size_t length) {
        cardlib::Record record;
        record.first = static_cast<std::uint16_t>(first);
        record.length = static_cast<std::uint16_t>(length);
        return cardlib::decode(cardlib::encode(record)).has_value();
    };
    EXPECT_TRUE(decodes(KVT_IMAGE_SIZE - 16, 16));
    EXPECT_FALSE(decodes(KVT_IMAGE_SIZE - 16, 17));
    EXPECT_FALSE(decodes(KVT_IMAGE_SIZE + 1, 0));
}

} // namespace
