// The simulated SP's platform points: faults across processes, scaled and
// interruptible sleep, this root's daemons, locks, logs and POST names.
#include <atomic>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/capi.h"
#include "platform/logging.h"
#include "platform/util.h"
#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace
{

using Lines = std::vector<std::string>;

// Runs `check` in a child process; its result is the child's exit status.
bool in_child(const std::function<bool()> &check)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(check() ? 0 : 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class PlatformTest : public testing::Test
{
  protected:
    kvttest::SimRoot sp;
};

TEST_F(PlatformTest, CountedFaultsAreUsedUpAndOthersLast)
{
    kvtsim::fault_set("luapi.get:/X/network/state", 7, 2);
    kvtsim::fault_set("i2c", 5);
    long value = 0;
    for (int call = 0; call < 2; ++call) {
        EXPECT_TRUE(kvtsim::fault_fires("luapi.get:/X/network/state", &value));
        EXPECT_EQ(value, 7);
    }
    EXPECT_FALSE(kvtsim::fault_fires("luapi.get:/X/network/state"));
    EXPECT_FALSE(kvtsim::fault_fires("luapi.get:/X/network"));
    for (int call = 0; call < 5; ++call)
        EXPECT_TRUE(kvtsim::fault_fires("i2c"));
    kvtsim::fault_clear("i2c");
    EXPECT_FALSE(kvtsim::fault_fires("i2c"));
}

TEST_F(PlatformTest, FaultSetHereIsSeenAndUsedUpByAChildProcess)
{
    kvtsim::fault_set("card.read", 5, 1);
    EXPECT_TRUE(in_child([] { return kvtsim::fault_fires("card.read"); }));
    EXPECT_FALSE(kvtsim::fault_fires("card.read"));
}

TEST_F(PlatformTest, RecreatingTheRootResetsTheSimulatedServices)
{
    kvtsim::fault_set("i2c");
    kvtsim::card_pull();
    kvtsim::set_daemon_state("shutdown");
    kvtsim::set_moved(true);
    log_event(65, nullptr);
    kvtsim::RootOptions options;
    options.sp_mac = {1, 2, 3, 4, 5, 0xab};
    ASSERT_EQ(kvtsim::create_root(sp.dir(), options), 0);
    EXPECT_FALSE(kvtsim::fault_fires("i2c"));
    EXPECT_EQ(kvtsim::card_eeprom(), std::vector<unsigned char>(kvtsim::kEepromSize, 0xFF));
    EXPECT_EQ(kvtsim::daemon_state(), "running");
    EXPECT_FALSE(kvtsim::moved());
    EXPECT_TRUE(kvtsim::fault_log().empty());
    EXPECT_EQ(sp.read("/var/tmp/KVT-data"), "00:14:4f:00:00:00\n01:02:03:04:05:ab\n");
    EXPECT_EQ(kvtsim::sp_mac(), options.sp_mac);
    EXPECT_TRUE(sp.exists("/dev/console"));
}

TEST_F(PlatformTest, SleepIsScaledByTheTimeScale)
{
    // Unscaled this would take ten hours and the test would time out.
    ::setenv(kvtsim::kTimeScaleEnv, "0.00001", 1);
    EXPECT_EQ(sp_sleep(36000), 0);
}

void ignore_signal(int) {}

TEST_F(PlatformTest, ASignalCutsTheSleepShort)
{
    ::setenv(kvtsim::kTimeScaleEnv, "1", 1);
    struct sigaction action {
    };
    action.sa_handler = ignore_signal;
    ::sigaction(SIGUSR1, &action, nullptr);
    const pthread_t sleeper = ::pthread_self();
    std::atomic<bool> woke{false};
    std::thread signaller([&] {
        kvttest::wait_until([&] {
            ::pthread_kill(sleeper, SIGUSR1);
            return woke.load();
        });
    });
    EXPECT_EQ(sp_sleep(3600), -1);
    woke = true;
    signaller.join();
}

// A process named kvtd started on the given root (nullptr: no root set).
pid_t start_kvtd(const std::string &dir, const char *root)
{
    const std::string link = dir + "/kvtd";
    ::symlink("/bin/sleep", link.c_str());
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const std::string env = std::string(kvtsim::kRootEnv) + "=" + (root ? root : "");
    char *argv[] = {const_cast<char *>("kvtd"), const_cast<char *>("600"), nullptr};
    char *with_root[] = {const_cast<char *>(env.c_str()), nullptr};
    char *without_root[] = {nullptr};
    ::execve(link.c_str(), argv, root ? with_root : without_root);
    ::_exit(127);
}

bool running(pid_t pid)
{
    return ::waitpid(pid, nullptr, WNOHANG) == 0;
}

TEST_F(PlatformTest, KillAllKvtdReachesOnlyTheDaemonsOfThisRoot)
{
    const pid_t mine = start_kvtd(sp.dir(), sp.dir().c_str());
    const pid_t other = start_kvtd(sp.dir(), "/tmp/kvt-sp-elsewhere");
    const pid_t unset = start_kvtd(sp.dir(), nullptr);
    ASSERT_TRUE(kvttest::wait_until([&] { return kvtsim::kvtd_pids() == std::vector<int>{mine}; }));

    EXPECT_EQ(sp_system("kill -9 `pidof kvtd`"), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(mine, &status, 0), mine);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_TRUE(running(other));
    EXPECT_TRUE(running(unset));
    for (pid_t pid : {other, unset}) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

TEST_F(PlatformTest, LockIsExclusivePerPathAcrossProcesses)
{
    long handle = -1;
    ASSERT_EQ(get_lock(&handle, "/var/tmp/kvtd_lock"), 0);
    EXPECT_TRUE(sp.exists("/var/tmp/kvtd_lock"));
    EXPECT_TRUE(in_child([] {
        long h = -1;
        return get_lock(&h, "/var/tmp/kvtd_lock") != 0 && get_lock(&h, "/var/tmp/other") == 0;
    }));
}

TEST_F(PlatformTest, ResolvedPathsStayInTheirBuffer)
{
    char out[8];
    std::memset(out, 'x', sizeof out);
    sp_resolve_path("/var/log/kvtd.log", out, sizeof out);
    EXPECT_EQ(std::string(out), sp.dir().substr(0, 7));
    char full[512];
    EXPECT_EQ(std::string(sp_resolve_path("/etc/cli_mode.conf", full, sizeof full)),
              sp.dir() + "/etc/cli_mode.conf");
}

TEST_F(PlatformTest, FaultLogAndPowerOperationsAreRecordedInOrder)
{
    log_fault_event(64, "KVT_REMOVED");
    log_event(65, nullptr);
    log_allclear_event(64, "KVT_REMOVED");
    log_disable_powerons();
    capi_power_op(0, "/SYS", 2);
    EXPECT_EQ(kvtsim::fault_log(), (Lines{"fault 64 KVT_REMOVED", "event 65",
                                          "clear 64 KVT_REMOVED", "disable_powerons"}));
    EXPECT_EQ(kvtsim::power_ops(), Lines{"0 /SYS 2"});
}

TEST_F(PlatformTest, FrameLogHasOneLinePerCall)
{
    init_dblog("kvtd", "/conf/kvtd_log_path");
    dblog_print(0, "daemon - running on PID %d\n", 42);
    dblog_print(0, "no newline");
    fini_dblog_file(0);
    EXPECT_EQ(sp.read("/var/log/kvtd.frame.log"), "daemon - running on PID 42\nno newline\n");
}

struct PathCase {
    const char *path;
    bool host_console;
    bool ends_in_escapechars;
};

class RouterPathTest : public testing::TestWithParam<PathCase>
{
};

TEST_P(RouterPathTest, ConsoleAndSuffixTests)
{
    const PathCase &c = GetParam();
    EXPECT_EQ(is_host_console(c.path) != 0, c.host_console);
    EXPECT_EQ(strrcmp_helper(c.path, "escapechars", 11) == 0, c.ends_in_escapechars);
}

INSTANTIATE_TEST_SUITE_P(Paths, RouterPathTest,
                         testing::Values(PathCase{"/HOST/console/escapechars", true, true},
                                         PathCase{"/SP/console/escapechars", true, true},
                                         PathCase{"/SP/consol", false, false},
                                         PathCase{"/X/escapechars", false, true},
                                         PathCase{"scapechars", false, false},
                                         PathCase{"/HOST/console", true, false}));

using FromName = int (*)(const char *, uint32_t *);
using FromCode = int (*)(unsigned char, const char **);

struct PostTable {
    FromName from_name;
    FromCode from_code;
    const char *fault_prefix;
};

class PostNameTest : public testing::TestWithParam<PostTable>
{
  protected:
    kvttest::SimRoot sp;
};

TEST_P(PostNameTest, EveryCodeMapsBackToItsNameAndNothingElseIsKnown)
{
    const PostTable &t = GetParam();
    int known = 0;
    for (unsigned code = 0; code <= 0xFF; ++code) {
        const char *name = nullptr;
        if (t.from_code(static_cast<unsigned char>(code), &name) != 0)
            continue;
        ++known;
        uint32_t back = 0x1234;
        ASSERT_EQ(t.from_name(name, &back), 0) << name;
        EXPECT_EQ(back, code) << name;
    }
    EXPECT_GE(known, 3);
    uint32_t code = 0;
    EXPECT_NE(t.from_name("bogus", &code), 0);
    EXPECT_NE(t.from_name("Max", &code), 0);
    kvtsim::fault_set(std::string(t.fault_prefix) + "max", 0, 1);
    EXPECT_NE(t.from_name("max", &code), 0);
    EXPECT_EQ(t.from_name("max", &code), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, PostNameTest,
    testing::Values(PostTable{capi_post_verbosity_type_from_name,
                              capi_post_verbosity_name_from_type, "capi.verbosity_name:"},
                    PostTable{capi_post_diaglevel_type_from_name,
                              capi_post_diaglevel_name_from_type, "capi.level_name:"}));

} // namespace
