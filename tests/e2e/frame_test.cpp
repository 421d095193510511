// The daemon frame seen from outside: options, the singleton lock, the
// background start, the stop signals, the critical log and the core-dump
// copy, each on a real kvtd process and a simulated SP of its own.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "sim/control.hpp"
#include "tests/support/daemon.hpp"
#include "tests/support/sim_root.hpp"

namespace
{

using kvttest::Daemon;
using kvttest::DaemonOptions;
using kvttest::SimRoot;
using kvttest::wait_until;
namespace fs = std::filesystem;

constexpr const char *kFrameLog = "/var/log/kvtd.frame.log";
constexpr const char *kRunning = "daemon - running on PID ";
constexpr const char *kCleanEnd = "daemon execution complete, rc=0.\n";
constexpr const char *kUsage = "       -0   Disable Singleton.\n"
                               "       -b   background mode(Forked Daemon).\n"
                               "       -h   this options list.\n";

int count_of(const std::string &text, const std::string &what)
{
    int count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

bool wait_running(const SimRoot &root, int instances = 1)
{
    return wait_until([&] { return count_of(root.read(kFrameLog), kRunning) >= instances; });
}

// The exit status of a process that ended on its own, -1 otherwise.
int exit_status(std::optional<int> status)
{
    if (!status || !WIFEXITED(*status))
        return -1;
    return WEXITSTATUS(*status);
}

// ---- options ----------------------------------------------------------------

class UsageOption : public testing::TestWithParam<std::vector<std::string>>
{
};

TEST_P(UsageOption, PrintsTheThreeLinesAndExitsZeroAfterConfigureLoggedTheArguments)
{
    SimRoot root;
    Daemon daemon({.args = GetParam()});
    EXPECT_EQ(exit_status(daemon.wait_exit()), 0);
    EXPECT_EQ(daemon.stdout_text(), kUsage);
    EXPECT_TRUE(kvttest::log_has("configure...\n"));
    EXPECT_TRUE(kvttest::log_has("<-h> "));
    EXPECT_FALSE(root.exists(kFrameLog));
}

INSTANTIATE_TEST_SUITE_P(Frame, UsageOption,
                         testing::Values(std::vector<std::string>{"-h"},
                                         std::vector<std::string>{"-b", "-h"},
                                         std::vector<std::string>{"-x", "-h", "-0"}));

TEST(Frame, BackgroundParentExitsZeroOnlyAfterInitialization)
{
    SimRoot root;
    Daemon parent({.args = {"-b"}});
    EXPECT_EQ(exit_status(parent.wait_exit()), 0);
    EXPECT_TRUE(kvttest::log_has("initialization complete\n"));

    ASSERT_TRUE(wait_running(root));
    const std::vector<int> pids = kvtsim::kvtd_pids();
    ASSERT_EQ(pids.size(), 1u);
    EXPECT_NE(pids[0], parent.pid());
    EXPECT_NE(root.read(kFrameLog).find(kRunning + std::to_string(pids[0]) + "\n"),
              std::string::npos);

    ::kill(pids[0], SIGTERM);
    ASSERT_TRUE(kvttest::wait_no_daemon());
    EXPECT_NE(root.read(kFrameLog).find(kCleanEnd), std::string::npos);
}

// ---- singleton ----------------------------------------------------------------

TEST(Frame, SecondInstanceSaysAnotherIsRunningAndExits255)
{
    SimRoot root;
    Daemon first;
    ASSERT_TRUE(wait_running(root));

    Daemon second;
    EXPECT_EQ(exit_status(second.wait_exit()), 255);
    EXPECT_NE(second.stdout_text().find("kvtd: Another instance is running.\n"), std::string::npos);

    // "-h" is handled before the lock is looked at.
    Daemon usage({.args = {"-h"}});
    EXPECT_EQ(exit_status(usage.wait_exit()), 0);
}

TEST(Frame, DisabledSingletonLetsASecondInstanceRun)
{
    SimRoot root;
    Daemon first;
    ASSERT_TRUE(wait_running(root));
    Daemon second({.args = {"-0"}});
    EXPECT_TRUE(wait_running(root, 2));
    EXPECT_EQ(kvtsim::kvtd_pids().size(), 2u);
}

// ---- signals ------------------------------------------------------------------

class StopSignal : public testing::TestWithParam<int>
{
};

TEST_P(StopSignal, EndsTheDaemonWithStatusZero)
{
    SimRoot root;
    Daemon daemon;
    ASSERT_TRUE(wait_running(root));
    daemon.signal(GetParam());
    EXPECT_EQ(exit_status(daemon.wait_exit()), 0);
    EXPECT_NE(root.read(kFrameLog).find(kCleanEnd), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Frame, StopSignal, testing::Values(SIGTERM, SIGINT, SIGQUIT),
                         [](const testing::TestParamInfo<int> &param) {
                             return std::string(sigabbrev_np(param.param));
                         });

// The process-wide pending set, from /proc.
std::uint64_t pending_signals(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("ShdPnd:", 0) == 0)
            return std::stoull(line.substr(7), nullptr, 16);
    }
    return 0;
}

TEST(Frame, OtherSignalsStayPendingAndChangeNothing)
{
    SimRoot root;
    Daemon daemon;
    ASSERT_TRUE(wait_running(root));
    daemon.signal(SIGHUP);
    daemon.signal(SIGUSR1);
    const std::uint64_t both = (1ull << (SIGHUP - 1)) | (1ull << (SIGUSR1 - 1));
    EXPECT_TRUE(wait_until([&] { return (pending_signals(daemon.pid()) & both) == both; }));

    daemon.signal(SIGTERM);
    EXPECT_EQ(exit_status(daemon.wait_exit()), 0);
    EXPECT_EQ(count_of(root.read(kFrameLog), kCleanEnd), 1);
}

// ---- link to the PCM ----------------------------------------------------------

// The simulated event manager with its PCM, for the length of a test.
struct EventManager {
    EventManager() { started = kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em") == 0; }
    ~EventManager() { kvtsim::em_stop(); }
    EventManager(const EventManager &) = delete;
    EventManager &operator=(const EventManager &) = delete;
    bool started = false;
};

bool pcm_received(const std::string &line)
{
    const std::vector<std::string> log = kvtsim::pcm_log();
    return std::find(log.begin(), log.end(), line) != log.end();
}

TEST(Frame, PcmIsGreetedAnsweredAndObeyedOnShutdown)
{
    SimRoot root;
    EventManager em;
    ASSERT_TRUE(em.started);
    Daemon daemon;
    ASSERT_TRUE(wait_until([] { return kvttest::log_has("registered for events\n"); }));
    EXPECT_TRUE(pcm_received("initialize kvtd"));

    ASSERT_EQ(kvtsim::pcm_heartbeat("42"), 0);
    EXPECT_TRUE(wait_until([] { return pcm_received("heartbeat kvtd 42"); }));

    ASSERT_EQ(kvtsim::pcm_shutdown(), 0);
    EXPECT_EQ(exit_status(daemon.wait_exit()), 0);
    EXPECT_NE(root.read(kFrameLog).find(kCleanEnd), std::string::npos);
}

TEST(Frame, LinkIsRenewedWithStateReportAfterTheEventManagerRestarts)
{
    SimRoot root;
    EventManager em;
    ASSERT_TRUE(em.started);
    Daemon daemon;
    ASSERT_TRUE(wait_until([] { return kvttest::log_has("registered for events\n"); }));

    ASSERT_EQ(kvtsim::em_stop(), 0);
    ASSERT_TRUE(wait_until([&] {
        return root.read(kFrameLog).find("kvtd - EM Disconnected.\n") != std::string::npos;
    }));
    ASSERT_EQ(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em"), 0);
    EXPECT_TRUE(wait_until([] { return kvttest::log_count("registered for events\n") == 2; }));
    // The state is reported after the audit subscription.
    EXPECT_TRUE(
        wait_until([] { return kvttest::log_count("kvtd: trelmproc_state_transition()") == 2; }));
}

// ---- critical log -------------------------------------------------------------

const std::regex kInitializeWarning(
    R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d kvtd - warning, unable to generate Initialize message\.\n$)");

class CriticalLog : public testing::TestWithParam<bool>
{
};

// A refused Initialize message is one of the critical lines; it goes to
// standard error when the critical log cannot be opened.
TEST_P(CriticalLog, LineIsStampedWithLocalTimeAndFallsBackToStandardError)
{
    const bool log_is_directory = GetParam();
    SimRoot root;
    if (log_is_directory)
        fs::create_directories(kvtsim::path_in_root("/var/log/daemon_critical.log"));
    kvtsim::fault_set("em.post:100");

    Daemon daemon;
    ASSERT_TRUE(wait_running(root));
    const std::string line =
        log_is_directory ? daemon.stderr_text() : root.read("/var/log/daemon_critical.log");
    EXPECT_TRUE(std::regex_match(line, kInitializeWarning)) << line;
}

INSTANTIATE_TEST_SUITE_P(Frame, CriticalLog, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &param) {
                             return std::string(param.param ? "LogIsDirectory" : "LogIsFile");
                         });

// ---- core-dump copy -----------------------------------------------------------

struct CopyCase {
    const char *name;
    bool argv0_in_coredump;
    fs::perms mode;
    bool copy_runs;
};

class CoreDumpCopy : public testing::TestWithParam<CopyCase>
{
};

// The copy is a script that records how it was called.
void place_copy(fs::perms mode)
{
    const std::string copy = kvtsim::path_in_root("/coredump/kvtd");
    fs::create_directories(kvtsim::path_in_root("/coredump"));
    fs::create_directories(kvtsim::path_in_root("/dev"));
    std::ofstream(copy) << "#!/bin/sh\necho \"$0 $*\" > \"" << kvtsim::path_in_root("/coredump/ran")
                        << "\"\n";
    fs::permissions(copy, mode);
}

TEST_P(CoreDumpCopy, RunsOnlyAnExecutableCopyAndNeverFromTheCopyItself)
{
    const CopyCase &c = GetParam();
    SimRoot root;
    place_copy(c.mode);
    DaemonOptions options{.args = {"-0", "-x"}};
    if (c.argv0_in_coredump)
        options.argv0 = "/coredump/kvtd";
    Daemon daemon(options);

    const std::string copy = kvtsim::path_in_root("/coredump/kvtd");
    if (!c.copy_runs) {
        ASSERT_TRUE(wait_running(root));
        EXPECT_EQ(root.read("/dev/console"), "");
        EXPECT_FALSE(root.exists("/coredump/ran"));
        return;
    }
    EXPECT_EQ(exit_status(daemon.wait_exit()), 0);
    EXPECT_EQ(root.read("/dev/console"), "*** Warning: running " + copy + "\n");
    EXPECT_EQ(root.read("/coredump/ran"), copy + " -0 -x\n");
    EXPECT_FALSE(root.exists(kFrameLog));
}

constexpr fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec;
constexpr fs::perms kReadable =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;

INSTANTIATE_TEST_SUITE_P(
    Frame, CoreDumpCopy,
    testing::Values(CopyCase{"ExecutableCopyRuns", false, kExecutable, true},
                    CopyCase{"UnexecutableCopyIsIgnored", false, kReadable, false},
                    CopyCase{"ArgvZeroInCoredumpNeverReexecutes", true, kExecutable, false}),
    [](const testing::TestParamInfo<CopyCase> &param) { return std::string(param.param.name); });

} // namespace
