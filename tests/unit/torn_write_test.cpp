// Torn card writes and damaged cards against the card library's validator:
// cut every write at every byte, and damage every section in the ways its
// XOR checksum cannot see; valid_KVT must never accept a mix.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/sections.hpp"
#include "platform/card_lib.h"
#include "sim/card_spare.hpp"
#include "sim/control.hpp"
#include "sim/eeprom.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvtsim::ImageBytes;

// Bytes programmed around every write's image bytes: intent and record.
constexpr std::size_t kSpareBytes = kvtsim::spare::kIntentSize + kvtsim::spare::kRecordSize;

void put_part(const std::vector<unsigned char> &part)
{
    kvtsim::CardIo ignored;
    ASSERT_EQ(
        kvtsim::eeprom::write(0, part.data(), part.size(), kvtsim::eeprom::WriteMode::all, ignored),
        0);
}

bool card_valid()
{
    const ImageBytes image = kvtsim::card_image().value();
    return valid_KVT(image.data(), 0) != 0;
}

// A valid card written by this library, with kvt_image equal to it.
class TornCard : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(kvtsim::card_insert_image(old_), 0);
        std::memcpy(&kvt_image, old_.data(), old_.size());
        ASSERT_EQ(write_out_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
        part_ = kvtsim::card_eeprom();
        ASSERT_TRUE(card_valid());
    }

    kvttest::SimRoot root_;
    const ImageBytes old_ = kvtsim::foreign_image(kvtsim::sp_mac());
    std::vector<unsigned char> part_;
};

struct Stretch {
    std::size_t first;
    std::size_t end; // one past the last byte written
};

// Every section write (the section with its checksum) and the whole image;
// each changes every byte it writes but the version. Both write modes
// leave the same bytes on the card, so the default one stands for both.
TEST_F(TornCard, EveryCutLeavesTheOldOrNewImageOrIsRejected)
{
    std::vector<Stretch> writes;
    for (const kvt::SectionSpan &s : kvt::kSectionMap)
        writes.push_back({s.first, s.cksum + 1});
    writes.push_back({0, KVT_IMAGE_SIZE});

    unsigned cuts = 0, detected = 0, accepted_mix = 0;
    for (const Stretch &w : writes) {
        ImageBytes changed = old_;
        for (std::size_t i = std::max<std::size_t>(w.first, 1); i < w.end; ++i)
            changed[i] = static_cast<unsigned char>(~changed[i]);
        std::memcpy(&kvt_image, changed.data(), changed.size());
        kvt::update_all_checksums(kvt_image);
        std::memcpy(changed.data(), &kvt_image, changed.size());

        const std::size_t len = w.end - w.first;
        for (std::size_t n = 0; n <= len + kSpareBytes; ++n) {
            put_part(part_);
            kvtsim::fault_set("card.write_torn", static_cast<long>(n), 1);
            ASSERT_EQ(write_out_KVT(&kvt::image_bytes(kvt_image)[w.first], static_cast<int>(len)),
                      -1);
            const ImageBytes card = kvtsim::card_image().value();
            ++cuts;
            if (!card_valid())
                ++detected;
            else if (card != old_ && card != changed) {
                ++accepted_mix;
                ADD_FAILURE() << "mix accepted: write at " << w.first << ", cut at " << n;
            }
        }
    }
    RecordProperty("cut_points", std::to_string(cuts));
    RecordProperty("tears_detected", std::to_string(detected));
    RecordProperty("tears_accepted", std::to_string(accepted_mix));
    std::printf("torn writes: %u cut points, %u rejected, %u mixes accepted\n", cuts, detected,
                accepted_mix);
    EXPECT_EQ(accepted_mix, 0u);
}

// Damage the XOR checksum misses or catches, every one within a section:
// each bit flipped; two bytes flipped in the same bit (the first byte of
// the section and each other one); two different bytes swapped (the first
// with each other one, and each pair of neighbours).
TEST_F(TornCard, DamagedSectionsAreRejected)
{
    unsigned tried = 0, accepted = 0;
    auto expect_rejected = [&](std::vector<std::pair<std::size_t, unsigned char>> bytes) {
        kvtsim::CardIo ignored;
        for (const auto &[at, value] : bytes)
            kvtsim::eeprom::write(kvtsim::kImageOffset + at, &value, 1,
                                  kvtsim::eeprom::WriteMode::all, ignored);
        ++tried;
        if (card_valid()) {
            ++accepted;
            ADD_FAILURE() << "damage at " << bytes.front().first << " accepted";
        }
        for (const auto &[at, value] : bytes)
            kvtsim::eeprom::write(kvtsim::kImageOffset + at, &old_[at], 1,
                                  kvtsim::eeprom::WriteMode::all, ignored);
    };
    for (const kvt::SectionSpan &s : kvt::kSectionMap)
        for (std::size_t i = s.first; i <= s.cksum; ++i) {
            for (unsigned bit = 0; bit < 8; ++bit) {
                const auto mask = static_cast<unsigned char>(1u << bit);
                expect_rejected({{i, old_[i] ^ mask}});
                if (i != s.first)
                    expect_rejected({{s.first, old_[s.first] ^ mask}, {i, old_[i] ^ mask}});
            }
            for (std::size_t j : {s.first, i + 1})
                if (j != i && j <= s.cksum && old_[i] != old_[j])
                    expect_rejected({{i, old_[j]}, {j, old_[i]}});
        }
    std::printf("damaged sections: %u tried, %u accepted\n", tried, accepted);
    RecordProperty("damage_tried", std::to_string(tried));
    EXPECT_EQ(accepted, 0u);
}

// Cut just before the marker is cleared, the card holds the new image
// whole and is accepted; an image other than the card's (one just built in
// memory, before it is written) is judged by its checksums alone, as is a
// card whose spare bytes are blank.
TEST_F(TornCard, ImagesTheRecordDoesNotDescribeAreJudgedByChecksums)
{
    kvt_image.customerinfo.store("torn");
    kvt::update_checksum(kvt_image, kvt::Section::customer);
    const kvt::SectionSpan &s = kvt::span_of(kvt::Section::customer);
    const std::size_t len = s.cksum + 1 - s.first;
    kvtsim::fault_set("card.write_torn", static_cast<long>(len + kSpareBytes - 1), 1);
    ASSERT_EQ(kvt::write_section(kvt::Section::customer), -1);
    EXPECT_TRUE(card_valid()) << "every byte but the marker's clearing made it";

    kvtsim::fault_set("card.write_torn", static_cast<long>(kvtsim::spare::kIntentSize + 5), 1);
    kvt_image.customerinfo.store("cut");
    kvt::update_checksum(kvt_image, kvt::Section::customer);
    ASSERT_EQ(kvt::write_section(kvt::Section::customer), -1);
    EXPECT_FALSE(card_valid());
    kvt_image_t in_memory = kvt_image;
    EXPECT_NE(valid_KVT(&in_memory, 0), 0);

    ASSERT_EQ(kvtsim::card_insert_image(kvt::image_bytes(kvt_image)), 0);
    EXPECT_TRUE(card_valid()) << "blank spare bytes: the XOR checksums decide";
}

} // namespace
