// The daemon frame seen from outside: options, the singleton lock, the
// background start, the stop signals, the critical log and the core-dump
// copy, each on a real kvtd process and a simulated SP of its own. The
// PCM link's heartbeat, shutdown and renewal, and the frame log's line for
// a lost event manager, run end to end in the change-tracking tests.
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/control.hpp"
#include "tests/support/daemon.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace kvttest {
namespace {

namespace fs = std::filesystem;

constexpr const char *kFrameLog = "/var/log/kvtd.frame.log";
constexpr const char *kRunning = "daemon - running on PID ";
constexpr const char *kCleanEnd = "daemon execution complete, rc=0.\n";

int frame_log_count(const SimRoot &root, const std::string &what)
{
    return count_in(root.read(kFrameLog), what);
}

bool wait_running(const SimRoot &root, int instances = 1)
{
    return wait_until([&] { return frame_log_count(root, kRunning) >= instances; });
}

// The line of /proc/PID/`file` that starts with `key`; empty without one.
std::string proc_line(int pid, const char *file, const std::string &key)
{
    std::ifstream lines("/proc/" + std::to_string(pid) + "/" + file);
    for (std::string text; std::getline(lines, text);)
        if (text.starts_with(key))
            return text;
    return "";
}

// What the descriptors of process `pid` ("self": this one) point at:
// paths, and "pipe:[INODE]" for pipes.
std::multiset<std::string> descriptor_targets(const std::string &pid)
{
    std::multiset<std::string> targets;
    std::error_code gone;
    for (const auto &fd : fs::directory_iterator("/proc/" + pid + "/fd", gone))
        targets.insert(fs::read_symlink(fd.path(), gone).string());
    return targets;
}

class UsageOption : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(UsageOption, PrintsTheThreeLinesAndExitsZeroAfterConfigureLoggedTheArguments)
{
    SimRoot root;
    Daemon daemon({.args = GetParam()});
    EXPECT_EQ(exit_code(daemon.wait_exit()), 0);
    EXPECT_EQ(daemon.stdout_text(), "       -0   Disable Singleton.\n"
                                    "       -b   background mode(Forked Daemon).\n"
                                    "       -h   this options list.\n");
    EXPECT_TRUE(log_has("configure...\n"));
    EXPECT_TRUE(log_has(std::string("<") + KVTD_BINARY + "> ")) << "the program's own name first";
    EXPECT_TRUE(log_has("<-h> "));
    EXPECT_FALSE(root.exists(kFrameLog));
}

INSTANTIATE_TEST_SUITE_P(Frame, UsageOption,
                         testing::Values(std::vector<std::string>{"-b", "-h"},
                                         std::vector<std::string>{"-x", "-h", "-0"}));

// Started with standard input closed, /dev/null opens as descriptor 0, and
// the daemon keeps the singleton lock it took before it went to the
// background.
TEST(Frame, BackgroundParentExitsZeroOnlyAfterInitialization)
{
    SimRoot root;
    const mode_t starters = ::umask(022);
    Daemon parent({.args = {"-b"}, .stdin_closed = true});
    ::umask(starters);
    EXPECT_EQ(exit_code(parent.wait_exit()), 0);
    EXPECT_TRUE(log_has("initialization complete\n"));

    ASSERT_TRUE(wait_running(root));
    const std::vector<int> pids = kvtsim::kvtd_pids();
    ASSERT_EQ(pids.size(), 1u);
    EXPECT_NE(pids[0], parent.pid());
    for (const char *fd : {"0", "1", "2"}) { // nothing left on the starter's terminal
        std::error_code closed;
        const std::string target = "/proc/" + std::to_string(pids[0]) + "/fd/" + fd;
        EXPECT_EQ(fs::read_symlink(target, closed).string(), "/dev/null") << target;
    }
    const std::multiset<std::string> held = descriptor_targets(std::to_string(pids[0]));
    for (const std::string &target : held)
        EXPECT_FALSE(target.starts_with("pipe:")) << target << ": the ready pipe stays open";
    EXPECT_EQ(held.count("/dev/null"), 3U) << "0, 1 and 2, and no other";
    EXPECT_EQ(proc_line(pids[0], "status", "Umask:"), "Umask:\t0000") << "not the starter's 022";
    EXPECT_EQ(frame_log_count(root, kRunning + std::to_string(pids[0]) + "\n"), 1);
    EXPECT_TRUE(std::regex_match(proc_line(pids[0], "limits", "Max core file size"),
                                 std::regex("Max core file size +10485760 +10485760 +bytes *")))
        << "ten MiB, soft and hard";
    const std::string link_thread = "emThread - PID " + std::to_string(pids[0]) + "...\n";
    EXPECT_TRUE(wait_until([&] { return frame_log_count(root, link_thread) == 1; }));
    Daemon second;
    EXPECT_EQ(exit_code(second.wait_exit()), 255) << "the singleton lock is held";

    ASSERT_TRUE(signal_until(pids[0], SIGTERM, [] { return kvtsim::kvtd_pids().empty(); }));
    EXPECT_EQ(frame_log_count(root, kCleanEnd), 1);
}

TEST(Frame, SecondInstanceSaysAnotherIsRunningAndExits255UnlessSingletonIsOff)
{
    SimRoot root;
    Daemon first;
    ASSERT_TRUE(wait_running(root));

    Daemon second;
    EXPECT_EQ(exit_code(second.wait_exit()), 255);
    EXPECT_EQ(second.stdout_text(), "kvtd: Another instance is running.\n");
    // "-h" is handled before the lock is looked at.
    Daemon usage({.args = {"-h"}});
    EXPECT_EQ(exit_code(usage.wait_exit()), 0);

    Daemon third({.args = {"-0"}});
    EXPECT_TRUE(wait_running(root, 2));
    EXPECT_EQ(kvtsim::kvtd_pids().size(), 2u);
}

// The logging library keeps the frame log where the process's configuration
// path names; the frame forms that path from the process's name.
TEST(Frame, FrameLogGoesWhereTheConfigurationPathNames)
{
    SimRoot root;
    std::ofstream(kvtsim::path_in_root("/conf/kvtd_log_path")) << "/var/log/frame-kvtd.log\n";
    Daemon daemon;
    EXPECT_TRUE(
        wait_until([&] { return count_in(root.read("/var/log/frame-kvtd.log"), kRunning) == 1; }));
    EXPECT_EQ(frame_log_count(root, kRunning), 0);
}

class StopSignal : public testing::TestWithParam<int> {};

// Other signals stay pending and change nothing.
TEST_P(StopSignal, EndsTheDaemonWithStatusZeroAndOtherSignalsStayPending)
{
    SimRoot root;
    Daemon daemon;
    ASSERT_TRUE(wait_running(root));
    ::kill(daemon.pid(), SIGHUP);
    ::kill(daemon.pid(), SIGUSR1);
    const std::uint64_t both = (1ull << (SIGHUP - 1)) | (1ull << (SIGUSR1 - 1));
    EXPECT_TRUE(wait_until([&] { // the process-wide pending set
        const std::string pending = proc_line(daemon.pid(), "status", "ShdPnd:");
        return !pending.empty() && (std::stoull(pending.substr(7), nullptr, 16) & both) == both;
    }));

    EXPECT_EQ(exit_code(daemon.stop(GetParam())), 0);
    EXPECT_EQ(frame_log_count(root, kCleanEnd), 1);
    EXPECT_EQ(daemon.stdout_text(), "") << "a run that went well prints nothing";
}

INSTANTIATE_TEST_SUITE_P(Frame, StopSignal, testing::Values(SIGTERM, SIGINT, SIGQUIT),
                         [](const auto &param) { return std::string(sigabbrev_np(param.param)); });

class CriticalLog : public testing::TestWithParam<bool> {};

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
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d kvtd - )"
                                                  R"(warning, unable to generate Initialize )"
                                                  R"(message\.\n$)")))
        << line;
    if (log_is_directory)
        return;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(kvtsim::path_in_root("/var/log/daemon_critical.log")).permissions(),
              fs::perms(0644 & ~mask));
}

INSTANTIATE_TEST_SUITE_P(Frame, CriticalLog, testing::Bool(), [](const auto &param) {
    return std::string(param.param ? "LogIsDirectory" : "LogIsFile");
});

struct CopyCase {
    const char *name;
    bool copy_runs;
    std::string argv0 = KVTD_BINARY;
    // Files in /coredump, each the script below; the first is the one that runs.
    std::vector<std::string> copies = {"kvtd"};
    unsigned mode = 0755;
    uid_t owner = 0;     // another owner for the copies (as root only); 0: the test's own
    uid_t dir_owner = 0; // the same for their directory
    bool copy_is_link = false;
    std::vector<std::string> args = {"-0", "-x"};
};

using kvttest::PrintTo;

// "/coredump/" and a name of 245 characters fill the daemon's 256-byte path
// buffer with its NUL; one character more would be cut to the shorter name.
const std::string kLongestName(245, 'k');
const std::string kNameTooLong(246, 'k');

class CoreDumpCopy : public testing::TestWithParam<CopyCase> {};

// The copy is a script that records how it was called.
TEST_P(CoreDumpCopy, RunsOnlyAnExecutableCopyAndNeverFromTheCopyItself)
{
    const CopyCase &c = GetParam();
    SimRoot root;
    if ((c.owner != 0 || c.dir_owner != 0) && ::geteuid() != 0)
        GTEST_SKIP() << "giving the copy to another user needs root";
    const fs::path dir = kvtsim::path_in_root("/coredump");
    fs::create_directories(dir);
    if (c.dir_owner != 0) {
        ASSERT_EQ(::chown(dir.c_str(), c.dir_owner, c.dir_owner), 0);
    }
    for (const std::string &name : c.copies) {
        const fs::path file = dir / (c.copy_is_link ? "real" : name);
        std::ofstream(file) << "#!/bin/sh\necho \"$0\" \"$@\" > " << dir / "ran"
                            << "\n";
        fs::permissions(file, fs::perms(c.mode));
        if (c.copy_is_link)
            fs::create_symlink(file, dir / name);
        if (c.owner != 0) {
            ASSERT_EQ(::chown(file.c_str(), c.owner, c.owner), 0);
        }
    }
    fs::remove(kvtsim::path_in_root("/dev/console")); // made by the daemon, with its mode
    Daemon daemon({.args = c.args, .argv0 = c.argv0});

    if (!c.copy_runs) {
        ASSERT_TRUE(wait_running(root));
        EXPECT_EQ(root.read("/dev/console"), "");
        EXPECT_FALSE(root.exists("/coredump/ran"));
        EXPECT_FALSE(descriptor_targets(std::to_string(daemon.pid())).contains(dir.string()));
        return;
    }
    const std::string copy = dir / c.copies.front();
    std::string called = copy;
    for (const std::string &arg : c.args)
        called += " " + arg;
    EXPECT_EQ(exit_code(daemon.wait_exit()), 0);
    EXPECT_EQ(root.read("/dev/console"), "*** Warning: running " + copy + "\n");
    EXPECT_EQ(fs::status(kvtsim::path_in_root("/dev/console")).permissions(), fs::perms(0644));
    EXPECT_EQ(root.read("/coredump/ran"), called + "\n");
    EXPECT_FALSE(root.exists(kFrameLog));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Frame, CoreDumpCopy,
    testing::Values(CopyCase{.name = "ExecutableCopyRuns", .copy_runs = true},
                    CopyCase{.name = "ExecutableCopyRunsForAKvtdStartedWithNoArguments", .copy_runs = true,
                             .args = {}},
                    CopyCase{.name = "UnexecutableCopyIsIgnored", .copy_runs = false, .mode = 0644},
                    // One writable by others makes the simulated SP refuse its whole root.
                    CopyCase{.name = "CopyOfAnotherUserIsIgnored", .copy_runs = false, .owner = 4242},
                    CopyCase{.name = "CopyInADirectoryOfAnotherUserIsIgnored", .copy_runs = false, .dir_owner = 4242},
                    CopyCase{.name = "CopyThatIsALinkIsIgnored", .copy_runs = false, .copy_is_link = true},
                    CopyCase{.name = "ArgvZeroInCoredumpNeverReexecutes", .copy_runs = false, .argv0 = "/coredump/kvtd"},
                    CopyCase{.name = "NameFillingThePathRuns", .copy_runs = true, .argv0 = kLongestName,
                             .copies = {kLongestName}},
                    CopyCase{.name = "NameTooLongForThePathRunsNoCopy", .copy_runs = false, .argv0 = kNameTooLong,
                             .copies = {kNameTooLong, kLongestName}}),
    by_name);
// clang-format on

} // namespace
} // namespace kvttest
