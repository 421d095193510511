// Section 8 against the simulated SP's CLI-mode file. The backup flag's
// hold on it is tested with the user tables'.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sections/climode.hpp"
#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvttest::log_count;
using kvttest::log_has;
using Entries = std::vector<std::pair<std::string, std::string>>;

constexpr const char *kFullCaptureOpenFail =
    "kvtd_snapshot_climode: failed to open cli_mode file %s\n";

class CliModeTable : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ::setenv(kvtsim::kTimeScaleEnv, "0.01", 0);
        std::memset(&kvt_image, 0, sizeof kvt_image);
    }
    kvttest::SimRoot root_;
};

struct CaptureCase {
    const char *name;
    std::string file;
    Entries entries;
};

using kvttest::PrintTo;

// Twelve lines "userN:modeN", of which the capture keeps the first eleven.
CaptureCase twelve_lines()
{
    CaptureCase c{"TwelveLinesKeepEleven", "", {}};
    for (int i = 0; i < 12; ++i) {
        const std::string n = std::to_string(i);
        const std::string name = "user" + n, mode = "mode" + n;
        c.file.append(name).append(":").append(mode).append("\n");
        if (i < 11)
            c.entries.emplace_back(name, mode);
    }
    return c;
}

class CliModeCapture : public CliModeTable, public ::testing::WithParamInterface<CaptureCase> {};

TEST_P(CliModeCapture, FillsEntriesFromTheFileAndZeroesTheRest)
{
    ASSERT_EQ(kvtsim::write_cli_mode_file(GetParam().file), 0);
    kvt::Image image{};
    capture_climode_table(&image, kFullCaptureOpenFail);

    const Entries &expected = GetParam().entries;
    const kvt::CliModeEntry free_entry{};
    for (std::size_t k = 0; k < kvt::kMaxUsers; ++k) {
        const kvt::CliModeEntry &entry = image.climode_table[k];
        if (k >= expected.size()) {
            EXPECT_EQ(std::memcmp(&entry, &free_entry, sizeof entry), 0) << k;
            continue;
        }
        EXPECT_EQ(entry.name.view(), expected[k].first) << k;
        EXPECT_EQ(entry.mode.view(), expected[k].second) << k;
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, CliModeCapture, ::testing::Values(
    twelve_lines(),
    CaptureCase{"ModeIsTheFirstWordAfterBlanks", "bob:  \trestricted extra\n", {{"bob", "restricted"}}},
    CaptureCase{"NameKeepsItsBlanks", " carol x:default\n", {{" carol x", "default"}}},
    CaptureCase{"LongFieldsAreCut", "abcdefghijklmnopqrstuvwxyz:0123456789abcdefghij\n", {{"abcdefghijklmnop", "0123456789abcdef"}}},
    CaptureCase{"LastLineWithoutNewline", "a:b", {{"a", "b"}}}),
    kvttest::by_name);
// clang-format on

// A line of 85 characters is read as 79 and then 6: the second piece has no colon.
TEST_F(CliModeTable, ParseErrorsStopTheDaemonWithTheCountOfPartsFound)
{
    const std::pair<std::string, int> files[] = {
        {":x\n", 0}, {"name:   \n", 1}, {"n:" + std::string(83, 'a') + "\n", 1}};
    for (const auto &[file, parts] : files) {
        ASSERT_EQ(kvtsim::write_cli_mode_file(file), 0);
        kvt::Image image{};
        EXPECT_EXIT(capture_climode_table(&image, kFullCaptureOpenFail),
                    ::testing::ExitedWithCode(255), "")
            << file;
        EXPECT_TRUE(log_has("parse error! ret = " + std::to_string(parts) + "\n")) << file;
        kvttest::clear_log();
    }
}

TEST_F(CliModeTable, SnapshotThenRestoreGivesBackTheFile)
{
    // The longest name and mode an entry holds come back whole.
    const std::string file = "root:admin\nabcdefghijklmnop:0123456789abcdef\n";
    ASSERT_EQ(kvtsim::write_cli_mode_file(file), 0);
    ASSERT_EQ(kvtsim::card_insert_blank(), 0);

    kvtd_snapshot_cli_mode();
    const auto card = kvtsim::card_image();
    ASSERT_TRUE(card.has_value());
    const auto bytes = kvt::image_bytes(kvt_image);
    EXPECT_TRUE(std::equal(bytes.begin() + 0x57F, bytes.begin() + 0x6F6, card->begin() + 0x57F));
    EXPECT_EQ((*card)[0x6F6], 0xFF); // nothing past cksum8

    ASSERT_EQ(kvtsim::write_cli_mode_file("stale:x\n"), 0);
    restore_climode();
    EXPECT_EQ(kvtsim::cli_mode_file(), file);
    EXPECT_TRUE(log_has("cli_mode restore done\n"));
}

TEST_F(CliModeTable, RestoreSkipsFreeEntriesAndRecomputesTheChecksum)
{
    kvt_image.climode_table[0].name.store("a");
    kvt_image.climode_table[0].mode.store("x");
    kvt_image.climode_table[2].name.store("c");
    kvt_image.climode_table[2].mode.store("z");
    unsigned char expected = 0;
    calculate_xor_checksum(kvt_image.climode_table, sizeof kvt_image.climode_table, &expected);
    kvt_image.cksum8 = expected ^ 0xFF;

    restore_climode();

    EXPECT_EQ(kvtsim::cli_mode_file(), "a:x\nc:z\n");
    std::vector<std::string> lines{"adding in the saved cli_modes\n"};
    for (int k = 0; k < 11; ++k)
        lines.push_back("i: " + std::to_string(k) + "\n");
    lines.emplace_back("cli_mode restore done\n");
    EXPECT_EQ(kvttest::missing_in_order(root_.service_log(), lines), "");
    EXPECT_EQ(log_count("i: "), 11);
    EXPECT_EQ(kvt_image.cksum8, expected);
}

// Entry 0 of the table, beside "ok:default" in entry 1. An entry is left
// out only when its "%s:%s" line would not read back as the same entry;
// everything else is written and comes back as it was.
struct EntryCase {
    const char *name;
    const char *entry_name;
    const char *mode;
    const char *skipped; // the log line; nullptr: written
    std::function<void(kvt::CliModeEntry &)> poke = nullptr;
};

class CliModeLines : public CliModeTable, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(CliModeLines, AreWrittenUnlessTheyWouldNotReadBackAsTheSameEntry)
{
    const EntryCase &c = GetParam();
    kvt_image.climode_table[0].name.store(c.entry_name);
    kvt_image.climode_table[0].mode.store(c.mode);
    if (c.poke)
        c.poke(kvt_image.climode_table[0]);
    kvt_image.climode_table[1].name.store("ok");
    kvt_image.climode_table[1].mode.store("default");
    const kvt::CliModeEntry written = kvt_image.climode_table[0];

    restore_climode();

    kvt::Image image{};
    capture_climode_table(&image, kFullCaptureOpenFail);
    if (c.skipped != nullptr) {
        EXPECT_EQ(kvtsim::cli_mode_file(), "ok:default\n");
        EXPECT_EQ(log_count(c.skipped), 1) << c.skipped;
        EXPECT_EQ(image.climode_table[0].name.view(), "ok");
        return;
    }
    EXPECT_EQ(kvtsim::cli_mode_file(), std::string(c.entry_name) + ":" + c.mode + "\nok:default\n");
    EXPECT_EQ(std::memcmp(&image.climode_table[0], &written, sizeof written), 0);
    EXPECT_EQ(restore_climode_skipped(), 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Entries, CliModeLines, ::testing::Values(
    EntryCase{"TabInName", "b\tob", "default", nullptr},
    EntryCase{"CarriageReturnInName", "bob\r", "default", nullptr},
    EntryCase{"EscapesInNameAndMode", "\x1b[1mbob", "\x1b[0m", nullptr},
    EntryCase{"ColonInMode", "bob", "a:b", nullptr},
    EntryCase{"SixteenCharsEach", "nnnnnnnnnnnnnnnn", "mmmmmmmmmmmmmmmm", nullptr},
    EntryCase{"NewlineInName", "x\nadmin", "default", "restore_climode: skipping entry 0 (x\\nadmin:default): newline in name\n"},
    EntryCase{"ColonInName", "a:b", "m", "restore_climode: skipping entry 0 (a:b:m): colon in name\n"},
    EntryCase{"EmptyMode", "bob", "", "restore_climode: skipping entry 0 (bob:): empty mode\n"},
    EntryCase{"BlankInMode", "bob", "de fault", "restore_climode: skipping entry 0 (bob:de fault): white space in mode\n"},
    EntryCase{"TabInMode", "bob", "de\tfault", "restore_climode: skipping entry 0 (bob:de\\tfault): white space in mode\n"},
    EntryCase{"NameWithoutNul", "", "default", "restore_climode: skipping entry 0 (nnnnnnnnnnnnnnnnn:default): name over 16 characters\n", [](kvt::CliModeEntry &e) { std::memset(e.name.chars, 'n', 17); }},
    EntryCase{"ModeWithoutNul", "bob", "", "restore_climode: skipping entry 0 (bob:mmmmmmmmmmmmmmmmm): mode over 16 characters\n", [](kvt::CliModeEntry &e) { std::memset(e.mode.chars, 'm', 17); }}),
    kvttest::by_name);
// clang-format on

struct FailedStep {
    const char *name;
    const char *fault;
};

class CliModeReplace : public CliModeTable, public ::testing::WithParamInterface<FailedStep> {};

// The file is replaced whole or not at all; the one error line is the
// restore's own, with what the failed call returned.
TEST_P(CliModeReplace, AFailedStepKeepsTheOldFileAndStops)
{
    const std::string old_file = "old:default\n";
    ASSERT_EQ(kvtsim::write_cli_mode_file(old_file), 0);
    kvt_image.climode_table[0].name.store("new");
    kvt_image.climode_table[0].mode.store("default");
    kvtsim::fault_set(GetParam().fault, EIO, 1);

    EXPECT_EXIT(restore_climode(), ::testing::ExitedWithCode(255), "");

    EXPECT_EQ(kvtsim::cli_mode_file(), old_file);
    EXPECT_FALSE(root_.exists("/etc/cli_mode.conf.new"));
    EXPECT_EQ(log_count("kvtd: failed to write climode ret=-1\n"), 1);
    EXPECT_EQ(log_count("restore_climode: "), 0);
    EXPECT_EQ(log_count("cli_mode restore done\n"), 0);
}

// A file that cannot be opened is one of the fatal paths tested end to end.
const FailedStep kSteps[] = {{"Write", "file.write"},
                             {"Fsync", "file.fsync"},
                             {"Close", "file.close"},
                             {"Rename", "file.rename"}};
INSTANTIATE_TEST_SUITE_P(Steps, CliModeReplace, ::testing::ValuesIn(kSteps), kvttest::by_name);

// A write cut short goes on with the rest; one that takes nothing fails the
// replacement; and no descriptor stays open either way.
TEST_F(CliModeTable, ShortWritesGoOnAndAWriteTakingNothingKeepsTheOldFile)
{
    kvt_image.climode_table[0].name.store("new");
    kvt_image.climode_table[0].mode.store("default");
    const std::size_t descriptors = kvttest::open_descriptors();
    kvtsim::fault_set("file.write_short", 3, -1);
    restore_climode();
    EXPECT_EQ(kvtsim::cli_mode_file(), "new:default\n");
    EXPECT_EQ(kvttest::open_descriptors(), descriptors);

    kvt_image.climode_table[0].name.store("other");
    kvtsim::fault_set("file.write_short", 0, -1);
    EXPECT_EXIT(restore_climode(), ::testing::ExitedWithCode(255),
                "kvtd: /etc/cli_mode.conf not replaced: write: Input/output error; the old "
                "file stays\n");
    EXPECT_EQ(kvtsim::cli_mode_file(), "new:default\n");
    // The result of the write that failed, not a number of our own.
    EXPECT_EQ(log_count("kvtd: failed to write climode ret=0\n"), 1);
}

} // namespace
