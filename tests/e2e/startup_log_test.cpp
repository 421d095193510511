// The start-up log of each path, line for line: the lines start-up writes
// itself come in their fixed order, and the lines added for operators (the
// decision, a kept card, the restore summary) come only after
// "initialization complete", never between two fixed lines.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/image.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"
#include "tests/support/tool_run.hpp"

namespace kvttest {
namespace {

namespace fs = std::filesystem;

const std::string kKept = "startup: the card's previous image is kept in ";

// The lines start-up writes itself, and the ones added for operators; the
// lines of the routines it calls (capture, dump, restores) are left out, but
// for the dump's first line, which shows that an image was dumped.
// clang-format off
const char *const kStartupPrefixes[] = {
    "initialize", "initialization complete", "waiting for IPMI", "error from initial read of KVT",
    "KVT sp configuration contents invalid", "data to be written:", "write of KVT chip failed!",
    "wrote KVT", "old config (chip):", "\thdr_version: ", "doing restore", "kvt_image.sp_mac = ",
    "kvt_new_image.sp_mac = ", "kvtd_was_moved = ", "restoring users", "restoring climode",
    "restoring network config", "restore complete", "===== kvtd shutting down =====",
    "startup decision: ", "startup: ", "restore summary: "};
// clang-format on

// The start-up lines of `log`; a kept card's line loses its path (the root's).
std::vector<std::string> startup_lines(const std::string &log)
{
    std::vector<std::string> kept;
    for (const std::string &line : log_messages(log)) {
        if (line.starts_with(kKept))
            kept.push_back(kKept);
        else if (std::ranges::any_of(kStartupPrefixes,
                                     [&](const char *prefix) { return line.starts_with(prefix); }))
            kept.push_back(line);
    }
    return kept;
}

struct LogCase {
    const char *name;
    bool captured; // a card this SP captured is in the slot before `prepare`
    void (*prepare)();
    bool fatal;
    std::vector<std::string> lines;
};

using kvttest::PrintTo;

// The restore's lines for a card of `card_mac`, kvtd_was_moved = `moved`,
// then the decision and the summary.
std::vector<std::string> restore_lines(const std::string &card_mac, char moved,
                                       const std::string &decision)
{
    return {"initialize",
            "old config (chip):",
            "\thdr_version: b",
            "doing restore",
            "kvt_image.sp_mac = " + card_mac,
            "kvt_new_image.sp_mac = 00:14:4f:00:00:01",
            std::string("kvtd_was_moved = ") + moved,
            "restoring users",
            "restoring climode",
            "restoring network config",
            "restore complete",
            "initialization complete",
            "startup decision: restore (card valid, " + decision + ")",
            "restore summary: users applied",
            "restore summary: CLI modes applied",
            "restore summary: network applied",
            "restore summary: misc settings applied"};
}

// The same restore from a card that says the SP's user data is not backed up.
std::vector<std::string> without_user_data(std::vector<std::string> lines)
{
    const auto users = std::find(lines.begin(), lines.end(), "restore summary: users applied");
    *users = "restore summary: users skipped (user data backup off)";
    *(users + 1) = "restore summary: CLI modes skipped (user data backup off)";
    return lines;
}

void moved_without_user_data_backup()
{
    kvtsim::set_moved(true);
    // The flag is 0x0800 of a big-endian word: in its first byte.
    const std::size_t at = offsetof(kvt::Image, miscbits);
    patch_card(at, kvtsim::card_image().value().at(at) | 0x08);
}

const std::string kCaptureStart =
    "KVT sp configuration contents invalid, saving current configuration...";
const std::string kShutdown = "===== kvtd shutting down =====";

// clang-format off
const LogCase kPaths[] = {
    {"NothingToDo", true, nullptr, false,
     {"initialize", "initialization complete",
      "startup decision: nothing to do (card valid, MAC matches, not moved)"}},
    {"CaptureOntoABlankCard", false, nullptr, false,
     {"initialize", kCaptureStart, "data to be written:", "\thdr_version: b", "wrote KVT",
      "initialization complete", "startup decision: capture (card blank (erased))"}},
    {"CaptureAfterAFatalStop", true, [] { kvtsim::set_daemon_state("shutdown"); }, false,
     {"initialize", kCaptureStart, "data to be written:", "\thdr_version: b", "wrote KVT",
      "initialization complete", "startup decision: capture (card valid, shutdown recorded)",
      kKept}},
    {"RestoreFromAnotherSpsCard", true,
     [] { ASSERT_EQ(kvtsim::card_insert_image(kvtsim::foreign_image(kOtherSpMac)), 0); }, false,
     restore_lines("00:14:4f:aa:bb:cc", '0', "card MAC differs from SP MAC")},
    {"RestoreFromAMovedCard", true, [] { kvtsim::set_moved(true); }, false,
     restore_lines("00:14:4f:00:00:01", '1', "card moved")},
    {"RestoreWithUserDataBackupOff", true, moved_without_user_data_backup, false,
     without_user_data(restore_lines("00:14:4f:00:00:01", '1', "card moved"))},
    {"FatalStopAtTheCardRead", false, [] { kvtsim::fault_set("card.read", 0, 1); }, true,
     {"initialize", "error from initial read of KVT - kvtd aborting!", kShutdown}},
    {"FatalStopAtTheCaptureWrite", false, [] { kvtsim::fault_set("card.write", EIO); }, true,
     {"initialize", kCaptureStart, "data to be written:", "\thdr_version: b",
      "write of KVT chip failed!", kShutdown}},
};
// clang-format on

class StartupLog : public ::testing::TestWithParam<LogCase> {
  protected:
    SimRoot root;
};

TEST_P(StartupLog, FollowsTheFixedSequenceWithAddedLinesAfterIt)
{
    const LogCase &c = GetParam();
    if (c.captured) {
        ASSERT_NO_FATAL_FAILURE(capture_a_card());
    }
    if (c.prepare) {
        ASSERT_NO_FATAL_FAILURE(c.prepare());
    }
    Daemon daemon;
    if (c.fatal) {
        ASSERT_TRUE(daemon.wait_exit().has_value());
        ASSERT_TRUE(wait_no_daemon());
    } else {
        ASSERT_TRUE(wait_for_log(kRunning)) << root.service_log();
        // Every path that completes leaves this SP's card and its states.
        expect_card_is_this_sps();
        EXPECT_EQ(kvtsim::daemon_state(), "running");
        EXPECT_FALSE(kvtsim::moved());
        EXPECT_TRUE(ends_cleanly_on_sigterm(daemon));
    }
    EXPECT_EQ(kvtsim::ipmi_sessions_open(), 0) << "the start left an IPMI session open";
    EXPECT_EQ(startup_lines(root.service_log()), c.lines) << root.service_log();
}

INSTANTIATE_TEST_SUITE_P(Paths, StartupLog, ::testing::ValuesIn(kPaths), kvttest::by_name);

// With a matching card nothing at all comes between the first line of
// start-up and its last.
TEST(StartupLog, MatchingCardGoesFromInitializeStraightToInitializationComplete)
{
    SimRoot root;
    ASSERT_NO_FATAL_FAILURE(capture_a_card());
    Daemon daemon;
    ASSERT_TRUE(wait_for_log(kRunning)) << root.service_log();
    const std::vector<std::string> all = log_messages(root.service_log());
    const auto at = std::find(all.begin(), all.end(), "initialization complete");
    ASSERT_NE(at, all.end());
    ASSERT_NE(at, all.begin());
    EXPECT_EQ(*(at - 1), "initialize");
    EXPECT_TRUE(ends_cleanly_on_sigterm(daemon));
}

// The card a capture overwrote stays readable, the newest three of them,
// each the whole part as the card library read it.
TEST(KeptCard, ACaptureKeepsTheCardItOverwritesTheNewestThree)
{
    SimRoot root;
    std::vector<std::vector<unsigned char>> overwritten;
    for (unsigned round = 0; round < 4; ++round) {
        kvtsim::ImageBytes image = kvtsim::foreign_image(kOtherSpMac);
        image[0] = static_cast<unsigned char>(0x20 + round); // a version kvtd refuses
        ASSERT_EQ(kvtsim::card_insert_image(image), 0);
        overwritten.push_back(kvtsim::card_eeprom());
        Daemon daemon;
        ASSERT_TRUE(wait_for_log(kRunning, static_cast<int>(round) + 1)) << root.service_log();
        EXPECT_TRUE(ends_cleanly_on_sigterm(daemon));
    }
    for (unsigned n = 1; n <= 3; ++n) {
        const std::string path =
            kvtsim::path_in_root("/var/lib/kvtd/overwritten-card." + std::to_string(n) + ".bin");
        const std::string kept = read_file(path);
        const std::vector<unsigned char> &expected = overwritten.at(overwritten.size() - n);
        EXPECT_EQ(kept, std::string(expected.begin(), expected.end())) << path;
        EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_TRUE(has(kvtcard("verify " + path), "verdict: card invalid: unknown version"));
    }
    EXPECT_FALSE(fs::exists(kvtsim::path_in_root("/var/lib/kvtd/overwritten-card.4.bin")));
    EXPECT_EQ(log_count(kKept), 4);
}

// Keeping the old card is a courtesy: a start-up that cannot keep it says
// why and captures all the same.
TEST(KeptCard, ACardThatCannotBeKeptIsSaidSoAndTheCaptureGoesOn)
{
    SimRoot root;
    const std::string directory = kvtsim::path_in_root("/var/lib/kvtd");
    fs::remove_all(directory);
    std::ofstream(directory) << "a file where the directory goes\n";
    kvtsim::ImageBytes image = kvtsim::foreign_image(kOtherSpMac);
    image[0] = 0x20; // a version kvtd refuses
    ASSERT_EQ(kvtsim::card_insert_image(image), 0);
    Daemon daemon;
    ASSERT_TRUE(wait_for_log(kRunning)) << root.service_log();
    EXPECT_TRUE(log_has("startup: could not keep the card's previous image in " +
                        kvtsim::path_in_root("/var/lib/kvtd/overwritten-card.1.bin") + ": "))
        << root.service_log();
    expect_card_is_this_sps();
    EXPECT_TRUE(ends_cleanly_on_sigterm(daemon));
}

} // namespace
} // namespace kvttest
