// One verdict: every card goes through kvtcard verify, kvtcard preview and
// kvtd's own start-up, and all three say the same of it.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/section_write.hpp"
#include "card/sections.hpp"
#include "cardlib/layout.hpp"
#include "sim/card/eeprom.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/tool_run.hpp"

namespace kvttest {
namespace {

void poke(std::size_t offset, unsigned char value)
{
    ASSERT_EQ(kvtsim::eeprom::poke(cardlib::kImageAddress + offset, &value, 1), 0);
}

void flip(std::initializer_list<std::size_t> offsets, unsigned char mask)
{
    for (const std::size_t offset : offsets) {
        unsigned char byte = 0;
        ASSERT_EQ(kvtsim::eeprom::peek(cardlib::kImageAddress + offset, &byte, 1), 0);
        ASSERT_NO_FATAL_FAILURE(poke(offset, static_cast<unsigned char>(byte ^ mask)));
    }
}

// A valid card of this SP written by the card library: its records stand
// beside the image, the newest of a write of section 6.
void written_card()
{
    kvtsim::ImageBytes image = kvtsim::foreign_image(kvtsim::sp_mac());
    ASSERT_EQ(kvtsim::card_insert_image(image), 0);
    ASSERT_EQ(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    kvt_image.customerinfo.store("written here");
    ASSERT_EQ(kvt::commit_section(kvt::Section::customer), 0);
}

// On a written card, the library's write of section 7 cut after two of four bytes that change
// alike: the XOR checksum still holds.
void torn_card()
{
    for (std::size_t i = 0; i < 4; ++i)
        kvt_image.mailhost_address.chars[i] ^= 0x21;
    kvtsim::fault_set("card.write_torn", cardlib::kSlotSize + 2, 1);
    ASSERT_EQ(kvt::write_section(kvt::Section::console), -1);
}

struct VerdictCase {
    const char *name;
    bool written; // the card is written_card() before `make`
    void (*make)();
    const char *decision; // kvtd's line, without "startup decision: "
    const char *warning = "";
};

using kvttest::PrintTo;

const std::vector<unsigned char> kZeros(kvtsim::kEepromSize - cardlib::kImageEnd, 0);
const char *const kNothingToDo = "nothing to do (card valid, MAC matches, not moved)";

// clang-format off
const VerdictCase kCards[] = {
    {"blank", false, [] { ASSERT_EQ(kvtsim::card_insert_blank(), 0); },
     "capture (card blank (erased))"},
    // the bytes after the image
    {"zeroed_spare_bytes", true,
     [] { ASSERT_EQ(kvtsim::eeprom::poke(cardlib::kImageEnd, kZeros.data(), kZeros.size()), 0); },
     kNothingToDo},
    // a byte of section 6 and its checksum, alike
    {"other_writers_change", true,
     [] { flip({0x51A, kvt::span_of(kvt::Section::customer).cksum}, 0x40); }, kNothingToDo,
     "section 6 changed since this card library's last write"},
    {"torn", true, torn_card, "capture (card invalid: write interrupted in section 7)"},
    {"damaged", true, [] { flip({0x1D0}, 0x08); },
     "capture (card invalid: checksum wrong in section 4)"},
    {"foreign", false,
     [] { ASSERT_EQ(kvtsim::card_insert_image(kvtsim::foreign_image(kOtherSpMac)), 0); },
     "restore (card valid, card MAC differs from SP MAC)"},
    {"invalidated", true, [] { poke(0, kvt::kInvalidatedVersion); },
     "capture (card invalidated by a fatal stop)"},
};
// clang-format on

class OneVerdict : public ::testing::TestWithParam<VerdictCase> {
  protected:
    SimRoot root;
};

TEST_P(OneVerdict, KvtcardAndKvtdAgreeOnTheCard)
{
    if (GetParam().written) {
        ASSERT_NO_FATAL_FAILURE(written_card());
    }
    ASSERT_NO_FATAL_FAILURE(GetParam().make());
    const ToolRun verify = kvtcard("verify --sim");
    const ToolRun preview = kvtcard("preview --sim");
    ASSERT_EQ(preview.status, 0) << preview.out;

    Daemon daemon;
    ASSERT_TRUE(wait_for_log(kRunning)) << root.service_log();
    const std::string kvtd = line_after(root.service_log(), "startup decision: ");
    EXPECT_EQ(kvtd, GetParam().decision);
    const std::string action = line_after(preview.out, "action: ");
    EXPECT_EQ(action + " (" + line_after(preview.out, "reason: ") + ")", kvtd) << preview.out;
    const bool kvtd_took_card = kvtd.rfind("capture", 0) != 0;
    EXPECT_EQ(verify.status, kvtd_took_card ? 0 : 1) << verify.out;
    const std::string verdict = line_after(verify.out, "verdict: ");
    EXPECT_NE(kvtd.find(verdict), std::string::npos) << verify.out;
    // What kvtd kept of a card it captured over gives its verdict again.
    const std::string kept = kvtsim::path_in_root("/var/lib/kvtd/overwritten-card.1.bin");
    if (root.exists("/var/lib/kvtd/overwritten-card.1.bin")) {
        EXPECT_EQ(line_after(kvtcard("verify " + kept).out, "verdict: "), verdict);
    }
    const std::string warning = GetParam().warning;
    EXPECT_EQ(log_has("startup: card warning: " + warning), !warning.empty());
    EXPECT_EQ(has(verify, "warnings:\n  - " + warning), !warning.empty()) << verify.out;
    EXPECT_TRUE(ends_cleanly_on_sigterm(daemon));
}

INSTANTIATE_TEST_SUITE_P(Cards, OneVerdict, ::testing::ValuesIn(kCards), kvttest::by_name);

} // namespace
} // namespace kvttest
