// The start-up log of each path, line for line: the lines start-up writes
// itself come in their fixed order, and the lines added for operators (the
// decision, a kept card, the restore summary) come only after
// "initialization complete", never between two fixed lines.
#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/card_watch.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/tool_run.hpp"

namespace kvttest {
namespace {

namespace fs = std::filesystem;

// Each line's last message: the text after its last time stamp. The frame
// writes its option lines without a newline, so the first line of start-up
// shares their line.
std::vector<std::string> messages(const std::string &log)
{
    static const std::regex kStamp("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} ");
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = log.find('\n', start);
        const std::string line = log.substr(start, end - start);
        std::size_t after = 0;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), kStamp);
             it != std::sregex_iterator(); ++it)
            after = static_cast<std::size_t>(it->position() + it->length());
        lines.push_back(line.substr(after));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

bool starts_with(const std::string &text, const std::string &prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// The lines start-up writes itself, and the ones added for operators; the
// lines of the routines it calls (capture, dump, restores) are left out.
bool startup_line(const std::string &line)
{
    static const char *const kPrefixes[] = {
        "initialize",
        "initialization complete",
        "waiting for IPMI",
        "error from initial read of KVT",
        "KVT sp configuration contents invalid",
        "data to be written:",
        "write of KVT chip failed!",
        "wrote KVT",
        "old config (chip):",
        "doing restore",
        "kvt_image.sp_mac = ",
        "kvt_new_image.sp_mac = ",
        "kvtd_was_moved = ",
        "restoring users",
        "restoring climode",
        "restoring network config",
        "restore complete",
        "===== kvtd shutting down =====",
        "startup decision: ",
        "startup: ",
        "restore summary: ",
    };
    for (const char *prefix : kPrefixes)
        if (starts_with(line, prefix))
            return true;
    return false;
}

std::vector<std::string> startup_lines()
{
    std::vector<std::string> kept;
    for (const std::string &line : messages(read_file(kvtsim::path_in_root("/var/log/kvtd.log"))))
        if (startup_line(line))
            kept.push_back(line);
    return kept;
}

const std::string kKept = "startup: the card's previous image is kept in ";

struct LogCase {
    const char *name;
    void (*prepare)();
    bool fatal;
    std::vector<std::string> lines;
};

using kvttest::PrintTo;

void own_card()
{
    capture_a_card();
}

void own_card_moved()
{
    capture_a_card();
    kvtsim::set_moved(true);
}

void foreign_card()
{
    capture_a_card();
    ASSERT_EQ(kvtsim::card_insert_image(kvtsim::foreign_image(kOtherSpMac)), 0);
}

void after_fatal_stop()
{
    capture_a_card();
    kvtsim::set_daemon_state("shutdown");
}

void unreadable_card()
{
    kvtsim::fault_set("card.read", 0, 1);
}

const LogCase kPaths[] = {
    {"NothingToDo",
     own_card,
     false,
     {"initialize", "initialization complete",
      "startup decision: nothing to do (card valid, MAC matches, not moved)"}},
    {"CaptureOntoABlankCard",
     nullptr,
     false,
     {"initialize", "KVT sp configuration contents invalid, saving current configuration...",
      "data to be written:", "wrote KVT", "initialization complete",
      "startup decision: capture (card blank (erased))"}},
    {"CaptureAfterAFatalStop",
     after_fatal_stop,
     false,
     {"initialize", "KVT sp configuration contents invalid, saving current configuration...",
      "data to be written:", "wrote KVT", "initialization complete",
      "startup decision: capture (card valid, shutdown recorded)", kKept}},
    {"RestoreFromAnotherSpsCard",
     foreign_card,
     false,
     {"initialize", "old config (chip):", "doing restore", "kvt_image.sp_mac = 00:14:4f:aa:bb:cc",
      "kvt_new_image.sp_mac = 00:14:4f:00:00:01", "kvtd_was_moved = 0", "restoring users",
      "restoring climode", "restoring network config", "restore complete",
      "initialization complete",
      "startup decision: restore (card valid, card MAC differs from SP MAC)",
      "restore summary: users applied", "restore summary: CLI modes applied",
      "restore summary: network applied", "restore summary: misc settings applied"}},
    {"RestoreFromAMovedCard",
     own_card_moved,
     false,
     {"initialize", "old config (chip):", "doing restore", "kvt_image.sp_mac = 00:14:4f:00:00:01",
      "kvt_new_image.sp_mac = 00:14:4f:00:00:01", "kvtd_was_moved = 1", "restoring users",
      "restoring climode", "restoring network config", "restore complete",
      "initialization complete", "startup decision: restore (card valid, card moved)",
      "restore summary: users applied", "restore summary: CLI modes applied",
      "restore summary: network applied", "restore summary: misc settings applied"}},
    {"FatalStopAtTheCardRead",
     unreadable_card,
     true,
     {"initialize", "error from initial read of KVT - kvtd aborting!",
      "===== kvtd shutting down ====="}},
};

class StartupLog : public ::testing::TestWithParam<LogCase> {
  protected:
    SimRoot root;
};

TEST_P(StartupLog, FollowsTheFixedSequenceWithAddedLinesAfterIt)
{
    const LogCase &c = GetParam();
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
    std::vector<std::string> lines = startup_lines();
    for (std::string &line : lines)
        if (starts_with(line, kKept))
            line = kKept; // the path is the root's
    EXPECT_EQ(lines, c.lines) << root.service_log();
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
    const std::vector<std::string> all = messages(root.service_log());
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

} // namespace
} // namespace kvttest
