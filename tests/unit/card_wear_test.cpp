// Wear-aware card writes: pages programmed per change in both write modes,
// the same card either way, torn writes, and the card I/O accounting.
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "card/sections.hpp"
#include "platform/card_lib.h"
#include "platform/i2c.h"
#include "sections/writers.hpp"
#include "sim/card_spare.hpp"
#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvt::Section;

// Bytes each write programs beside the image: the intent, then the record.
constexpr std::size_t kSpareBytes = kvtsim::spare::kIntentSize + kvtsim::spare::kRecordSize;

// Card and kvt_image hold the same valid image, as after a start-up.
class CardWear : public testing::Test {
  protected:
    void SetUp() override { sync(); }
    void TearDown() override { ::unsetenv(kvtsim::kCardWriteEnv); }

    void sync()
    {
        ASSERT_EQ(kvtsim::card_insert_image(synced_), 0);
        std::memcpy(&kvt_image, synced_.data(), synced_.size());
        kvtsim::card_io_reset();
    }

    kvttest::SimRoot root_;
    const kvtsim::ImageBytes synced_ = kvtsim::foreign_image(kvtsim::sp_mac());
};

struct Change {
    const char *name;
    std::function<void()> write;
    std::uint64_t bytes_requested;
    std::uint64_t pages_all;     // every page the write touches, and the record twice
    std::uint64_t pages_changed; // pages holding a changed byte, and the record twice
};

// Card address = 0x1800 + image offset, and 0x1800 starts a page, so an
// image offset's page is offset / 32. Every write also programs the card
// library's record beside the image twice (its intent, then the section
// CRCs with the intent cleared: sim/card_spare.hpp), one page each time:
// the page counts below include those two.
// clang-format off
const Change kChanges[] = {
    // section 7, 0x543..0x57E: pages 42, 43; the port 0x57A and its checksum lie in 43
    {"MailhostPort", [] { kvtd_write_mailhost_port("65535"); }, 60, 4, 3},
    // section 6, 0x519..0x542: pages 40 to 42; the text in 40, its checksum in 42
    {"CustomerInfo", [] { kvtd_write_customerinfo("r7"); }, 42, 5, 4},
    // section 5, 0x1FD..0x518: pages 15 to 40; rule 15's level 0x516 and the checksum in 40
    {"Rule15Level", [] { kvtd_write_mailalert(15, ALERT_LEVEL, "critical"); }, 796, 28, 3},
    // rule 3's level 0x29A in page 20, the checksum in 40
    {"Rule3Level", [] { kvtd_write_mailalert(3, ALERT_LEVEL, "major"); }, 796, 28, 4},
    // the fatal stop's whole image, 0x000..0x727: pages 0 to 57; only the version changes
    {"InvalidatedWholeImage", [] {
         kvt_image.hdr_version = kvt::kInvalidatedVersion;
         ASSERT_EQ(write_out_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
     }, 1832, 60, 3},
};
// clang-format on

using kvttest::PrintTo;

class PagesPerChange : public CardWear, public testing::WithParamInterface<Change> {
  protected:
    // The change in one mode: what it cost and the part it left.
    std::tuple<kvtsim::CardIo, std::vector<unsigned char>> run(const char *mode)
    {
        sync();
        kvtsim::use_card_write_mode(mode);
        GetParam().write();
        return {kvtsim::card_io(), kvtsim::card_eeprom()};
    }
};

TEST_P(PagesPerChange, ChangedModeProgramsOnlyDifferingPagesAndLeavesTheSameCard)
{
    const auto [all, card_all] = run("all");
    const auto [changed, card_changed] = run("changed");

    EXPECT_EQ(card_changed, card_all);
    EXPECT_NE(kvtsim::card_image().value(), synced_) << "the change reached the card";
    EXPECT_EQ(all.bytes_requested, GetParam().bytes_requested);
    EXPECT_EQ(changed.bytes_requested, GetParam().bytes_requested);
    EXPECT_EQ(all.pages_programmed, GetParam().pages_all);
    EXPECT_EQ(all.bytes_written, GetParam().bytes_requested + kSpareBytes);
    EXPECT_EQ(changed.pages_programmed, GetParam().pages_changed);
    EXPECT_EQ(all.reads, 1u) << "the record is read for the other sections' CRCs";
    EXPECT_EQ(changed.reads, 4u) << "the card is read before each of the three writes";
    EXPECT_EQ(changed.bytes_read,
              GetParam().bytes_requested + kSpareBytes + kvtsim::spare::kRecordSize);
}

INSTANTIATE_TEST_SUITE_P(Writers, PagesPerChange, testing::ValuesIn(kChanges), kvttest::by_name);

// The changed mode compares with the card in the slot, not with what was
// last written: a card swapped for one with other contents still ends up
// holding the whole image.
TEST_F(CardWear, ChangedModeWritesWhatDiffersFromASwappedCard)
{
    kvtsim::ImageBytes other = synced_;
    other[0x100] ^= 0x01; // page 8
    other[0x400] ^= 0x01; // page 32
    ASSERT_EQ(kvtsim::card_insert_image(other), 0);
    kvtsim::card_io_reset();

    ASSERT_EQ(write_out_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    EXPECT_EQ(kvtsim::card_image().value(), synced_);
    EXPECT_EQ(kvtsim::card_io().pages_programmed, 2u + 2u) << "and the record twice";
}

// A torn write of section 7 whose every byte differs from the card. The
// first bytes of the write are the intent's, then come the section's.
class TornWrite : public CardWear,
                  public testing::WithParamInterface<std::tuple<const char *, std::size_t>> {};

TEST_P(TornWrite, LeavesExactlyTheFirstNBytesNewAndFailsWithEio)
{
    const auto [mode, n] = GetParam();
    kvtsim::use_card_write_mode(mode);
    const kvt::SectionSpan &s = kvt::span_of(Section::console);
    const std::size_t len = s.length + 1;
    auto image = kvt::image_bytes(kvt_image);
    for (std::size_t i = s.first; i <= s.cksum; ++i)
        image[i] = static_cast<unsigned char>(~image[i]);
    kvtsim::fault_set("card.write_torn", static_cast<long>(n), 1);

    errno = 0;
    EXPECT_LT(kvt::write_section(Section::console), 0);
    EXPECT_EQ(errno, EIO);

    kvtsim::ImageBytes expected = synced_;
    const std::size_t reached = std::min(n - std::min(n, kvtsim::spare::kIntentSize), len);
    for (std::size_t i = s.first; i < s.first + reached; ++i)
        expected[i] = image[i];
    EXPECT_EQ(kvtsim::card_image().value(), expected);
    EXPECT_EQ(kvtsim::card_io().bytes_requested, len);
    EXPECT_EQ(kvt::write_section(Section::console), 0) << "the fault was used up";
}

// Past the 7 intent bytes: 13 section bytes; 29 end exactly at the page
// boundary 0x560; 60, the whole section without the record; 60 + 27, every
// byte (still EIO: the card went away as the write ended).
INSTANTIATE_TEST_SUITE_P(Lengths, TornWrite,
                         testing::Combine(testing::Values("all", "changed"),
                                          testing::Values(0u, 7u, 20u, 36u, 37u, 67u, 94u)),
                         [](const auto &test) {
                             return std::string(std::get<0>(test.param)) + "Mode" +
                                    std::to_string(std::get<1>(test.param)) + "Bytes";
                         });

TEST_F(CardWear, ReadsOnTheBusAreCountedAndLookingAtTheCardIsNot)
{
    ASSERT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    const unsigned char header_address[2] = {0x18, 0x00};
    unsigned char header[8];
    ASSERT_EQ(i2c_writeread(0x53, header_address, header, 2, 8), 0);
    (void)kvtsim::card_image();

    const kvtsim::CardIo io = kvtsim::card_io();
    EXPECT_EQ(io.reads, 2u);
    EXPECT_EQ(io.bytes_read, 1832u + 8u);
    EXPECT_EQ(io.writes, 0u);
    EXPECT_EQ(io.pages_programmed, 0u);
}

struct BusCase {
    const char *name;
    kvtsim::CardIo io;
    unsigned khz;
    double ms;
};

class BusTime : public testing::TestWithParam<BusCase> {};

// Golden figures worked by hand: a page write of n bytes is 29 + 9n clocks
// and 5 ms, a read of n bytes 39 + 9n clocks.
TEST_P(BusTime, FollowsTheClockCountAndWriteCycles)
{
    EXPECT_NEAR(kvtsim::card_io_ms(GetParam().io, GetParam().khz), GetParam().ms, 1e-9);
}

// The monitor's header read: 39 + 72 = 111 clocks. Section 7 in two pages:
// 2 x 29 + 9 x 60 = 598 clocks and 10 ms.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Golden, BusTime, testing::Values(
    BusCase{"HeaderRead100kHz", {.reads = 1, .bytes_read = 8}, 100, 1.11},
    BusCase{"HeaderRead400kHz", {.reads = 1, .bytes_read = 8}, 400, 0.2775},
    BusCase{"Section7Write100kHz", {.pages_programmed = 2, .bytes_written = 60}, 100, 15.98},
    BusCase{"Section7Write400kHz", {.pages_programmed = 2, .bytes_written = 60}, 400, 11.495}),
    kvttest::by_name);
// clang-format on

} // namespace
