// The status file end to end: kvtd keeps it as its results change, and
// kvtcard status reads it, on a simulated SP.
#include <cerrno>
#include <csignal>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/daemon_state.hpp"
#include "base/status.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/event_recorder.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/tool_run.hpp"

namespace kvttest {
namespace {

namespace key = kvt::status::key;

// "2026-12-08 11:17:32", the form every time in the file takes.
bool is_time(const std::string &value)
{
    return value.size() == 19 && value[4] == '-' && value[10] == ' ' && value[13] == ':';
}

bool wait_for_status(const char *name, const std::string &value)
{
    return wait_until([&] { return read_status()[name] == value; });
}

// ---- start-up -------------------------------------------------------------------

struct StartCase {
    const char *name;
    void (*before)();
    const char *state;
    const char *decision;
    const char *reason;
    const char *last_write;
};

using kvttest::PrintTo;

class StatusAfterStart : public ::testing::TestWithParam<StartCase> {
  protected:
    SimRoot root;
};

TEST_P(StatusAfterStart, GivesTheDecisionItsReasonAndTheState)
{
    const StartCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(c.before());
    Daemon daemon;
    ASSERT_TRUE(wait_for_status(key::state, c.state)) << read_file(status_path());
    const StatusFile status = read_status();
    EXPECT_EQ(status[key::decision], c.decision);
    EXPECT_EQ(status[key::reason], c.reason);
    const bool decided = std::string(c.decision) != kvt::status::kNone;
    EXPECT_EQ(is_time(status[key::decided]), decided) << status[key::decided];
    EXPECT_TRUE(is_time(status[key::state_since])) << status[key::state_since];
    EXPECT_EQ(status[key::write], c.last_write);
    EXPECT_EQ(status[key::faults], "0");

    const ToolRun run = kvtcard("--json status");
    EXPECT_NE(run.status, 2) << run.out; // a fatal stop may have ended kvtd by now
    EXPECT_NE(run.out.find(std::string("\"decision\": \"") + c.decision + "\""), std::string::npos)
        << run.out;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cards, StatusAfterStart, ::testing::Values(
    StartCase{"BlankCard", [] {}, "running", "capture", "card blank (erased)", "whole image"},
    StartCase{"OwnCard", capture_a_card, "running", "nothing to do", "card valid, MAC matches, not moved", "none"},
    StartCase{"OtherSpsCard", [] { capture_a_card(); kvtsim::card_insert_image(kvtsim::foreign_image(kOtherSpMac)); }, "running", "restore", "card valid, card MAC differs from SP MAC", "whole image"},
    StartCase{"AfterFatalStop", [] { capture_a_card(); kvtsim::set_daemon_state("shutdown"); }, "running", "capture", "card valid, shutdown recorded", "whole image"},
    StartCase{"UnreadableCard", [] { capture_a_card(); kvtsim::fault_set("card.read", EIO); }, "fatal stop", "none", "none", "whole image"}),
    kvttest::by_name);
// clang-format on

// ---- the card monitor -------------------------------------------------------------

TEST(StatusOfThePulledCard, CountsTheFailuresRaisesTheFaultAndClearsItWhenTheCardIsBack)
{
    SimRoot root;
    Daemon daemon({.time_scale = 0.05}); // the wait for the card must not run out meanwhile
    ASSERT_TRUE(wait_for_status(key::check, "0"));
    // A sample may catch a file the daemon has open for a moment, never one
    // fewer than it keeps.
    const std::size_t descriptors = open_descriptors(daemon.pid());
    ASSERT_EQ(kvtsim::card_pull(), 0);
    ASSERT_TRUE(wait_for_fault_line("event 65"));
    ASSERT_TRUE(wait_until([] { return !read_status().faults.empty(); }));

    StatusFile status = read_status();
    EXPECT_EQ(status[key::check], "-1");
    EXPECT_EQ(status[key::check_meaning], "I2C read failed");
    EXPECT_TRUE(is_time(status[key::check_since])) << status[key::check_since];
    EXPECT_GE(std::stoi(status[key::failures]), 3);
    EXPECT_EQ(status[key::faults], "1");
    EXPECT_EQ(status[key::link], "not connected"); // no event manager on this SP
    EXPECT_EQ(status[key::link_since], kvt::status::kNone);
    ASSERT_EQ(status.faults.size(), 1U);
    EXPECT_EQ(status.faults[0].rfind("64 KVT_REMOVED, raised ", 0), 0U) << status.faults[0];

    ASSERT_EQ(kvtsim::card_insert(), 0);
    ASSERT_TRUE(wait_for_status(key::faults, "0")) << read_file(status_path());
    ASSERT_TRUE(wait_for_status(key::check, "0"));
    status = read_status();
    EXPECT_EQ(status[key::state], "running");
    EXPECT_EQ(status[key::failures], "0");
    EXPECT_TRUE(status.faults.empty());
    EXPECT_TRUE(wait_until([&] { return open_descriptors(daemon.pid()) <= descriptors; }))
        << "a fault raised and cleared leaves no descriptor open";

    // Passing checks change no result: the file is not replaced (a rewrite
    // renames a new file over it).
    struct stat before {};
    struct stat after {};
    ASSERT_EQ(stat(status_path().c_str(), &before), 0);
    ASSERT_TRUE(MacReads().wait_for(3));
    ASSERT_EQ(stat(status_path().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);

    EXPECT_TRUE(ends_cleanly_on_sigterm(daemon));
    EXPECT_EQ(read_status()[key::state], "stopped");
    const ToolRun run = kvtcard("status");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("running: no\n"), std::string::npos) << run.out;
}

// The file's directory is made on first use, open to every reader. A card
// check made once the run flag is down shows the halt, except after a fatal
// stop (which lowers the flag too): the fatal stop outlasts that check and
// the stop the daemon records after it.
TEST(StatusOfAFatalStop, OutlastsTheStopAfterItInADirectoryAllCanRead)
{
    SimRoot root;
    const mode_t before = ::umask(022);
    serverActive = false;
    kvt::status::record_running();
    kvt::status::record_card_check(0);
    EXPECT_EQ(read_status()[key::state], "halting");
    kvt::status::record_fatal_stop(0);
    kvt::status::record_card_check(0);
    kvt::status::record_stopped();
    ::umask(before);
    EXPECT_EQ(read_status()[key::state], "fatal stop");
    struct stat directory {};
    ASSERT_EQ(::stat(kvtsim::path_in_root("/run/kvtd").c_str(), &directory), 0);
    EXPECT_EQ(directory.st_mode & 07777, 0755U);
}

// Each card check result and link state in the status file's words; the
// card monitor's own tests play the checks themselves.
TEST(StatusWords, NameEachCardCheckResultAndLinkState)
{
    SimRoot root;
    const std::pair<int, const char *> checks[] = {{-2, "header version is not 0x0B"},
                                                   {-3, "header checksum wrong"},
                                                   {-4, "card of another SP"},
                                                   {-5, "unknown"}};
    kvt::status::record_running();
    for (const auto &[result, meaning] : checks) {
        kvt::status::record_card_check(result);
        EXPECT_EQ(read_status()[key::check_meaning], meaning) << result;
    }
    kvt::status::record_link(true, false);
    EXPECT_EQ(read_status()[key::link], "connected, audit events refused");
}

// ---- a background start and an end without a word ------------------------------------

// Each start races the parent's exit against the child's first write: a
// few starts give the race its chances.
TEST(StatusOfABackgroundStart, NamesTheDaemonOnceKvtdReturnsAndGoesStaleWhenItIsKilled)
{
    SimRoot root;
    for (int start = 0; start < 3; ++start) {
        Daemon parent({.args = {"-b"}});
        ASSERT_EQ(exit_code(parent.wait_exit()), 0);
        const ToolRun run = kvtcard("status");
        EXPECT_EQ(run.status, 0) << run.out;
        const std::vector<int> pids = kvtsim::kvtd_pids();
        ASSERT_EQ(pids.size(), 1U);
        EXPECT_EQ(read_status()[key::pid], std::to_string(pids[0]));
        ASSERT_TRUE(signal_until(pids[0], SIGKILL, [] { return kvtsim::kvtd_pids().empty(); }));
    }
    const ToolRun run = kvtcard("status");
    EXPECT_EQ(run.status, 1) << run.out;
    std::istringstream lines(run.out.substr(run.out.find("state:")));
    for (std::string line; std::getline(lines, line);) {
        const bool value = line.find(": ") != std::string::npos && !line.starts_with("stale:");
        EXPECT_TRUE(!value || line.ends_with(" (stale)")) << line;
    }
    EXPECT_TRUE(run.out.ends_with("stale: yes\n")) << run.out;
}

// ---- card writes -------------------------------------------------------------------

TEST(StatusOfALiveChange, NamesTheSectionWrittenAndItsResultAndTheEventManagerLink)
{
    SimRoot root;
    EventManager em;
    ASSERT_TRUE(em.started());
    Daemon daemon; // ends before the event manager
    ASSERT_TRUE(wait_for_status(key::link, "connected")) << root.service_log();
    ASSERT_EQ(read_status()[key::write], "whole image"); // the capture onto the blank card

    ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", "2525"), 0);
    ASSERT_TRUE(wait_for_status(key::write, "section 7 (console)")) << read_file(status_path());
    const StatusFile written = read_status();
    EXPECT_EQ(written[key::write_result], "ok");
    EXPECT_TRUE(is_time(written[key::write_time])) << written[key::write_time];
    EXPECT_TRUE(is_time(written[key::link_since])) << written[key::link_since];

    // Changes made while the link is down never reach the card.
    ASSERT_EQ(kvtsim::em_stop(), 0);
    ASSERT_TRUE(wait_for_status(key::link, "disconnected"));
    ASSERT_EQ(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em"), 0);
    ASSERT_TRUE(wait_for_status(key::link, "connected"));

    kvtsim::fault_set("card.write", EIO);
    ASSERT_EQ(kvtsim::object_set("/X/system_identifier", "rack 9"), 0);
    ASSERT_TRUE(wait_for_status(key::state, "fatal stop")) << read_file(status_path());
    EXPECT_EQ(read_status()[key::write], "whole image");
    EXPECT_EQ(read_status()[key::write_result], "failed: Input/output error");
}

} // namespace
} // namespace kvttest
