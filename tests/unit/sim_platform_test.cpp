// The simulated SP's platform points: faults across processes, the
// interruptible sleep, this root's daemons, its paths and the router's path
// tests. The time scale, the singleton lock, the frame log, the fault log,
// the power operations and the POST names are met through the frame,
// monitor and misc tests.
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/util.h"
#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

class Platform : public testing::Test {
  protected:
    kvttest::SimRoot sp;
};

TEST_F(Platform, CountedFaultsAreUsedUpEvenByAChildProcessAndOthersLast)
{
    kvtsim::fault_set("luapi.get:/X/network/state", 7, 2);
    kvtsim::fault_set("i2c", 5);
    long value = 0;
    EXPECT_TRUE(kvtsim::fault_fires("luapi.get:/X/network/state", &value));
    EXPECT_EQ(value, 7);
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(kvtsim::fault_fires("luapi.get:/X/network/state") ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(kvtsim::fault_fires("luapi.get:/X/network/state"));
    EXPECT_FALSE(kvtsim::fault_fires("luapi.get:/X/network"));
    for (int call = 0; call < 5; ++call)
        EXPECT_TRUE(kvtsim::fault_fires("i2c"));
    kvtsim::fault_clear("i2c");
    EXPECT_FALSE(kvtsim::fault_fires("i2c"));
}

// A process that keeps its stores in memory (a fuzz target) keeps its
// objects and faults to itself, and no longer sees faults set on file.
TEST_F(Platform, AProcessHoldingItsStoresInMemoryKeepsObjectsAndFaultsToItself)
{
    kvtsim::fault_set("i2c", 5);
    const pid_t child = ::fork();
    if (child == 0) {
        kvtsim::keep_stores_in_memory();
        kvtsim::fault_set("luapi.get:/X/network/state", 7, 2);
        long value = 0;
        const bool held = !kvtsim::fault_fires("i2c") &&
                          kvtsim::fault_fires("luapi.get:/X/network/state", &value) && value == 7 &&
                          kvtsim::fault_fires("luapi.get:/X/network/state") &&
                          !kvtsim::fault_fires("luapi.get:/X/network/state") &&
                          kvtsim::object_set("/X/network/state", "disabled") == 0 &&
                          kvtsim::object_get("/X/network/state") == "disabled";
        ::_exit(held ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(kvtsim::fault_fires("i2c"));
    EXPECT_FALSE(kvtsim::fault_fires("luapi.get:/X/network/state"));
    EXPECT_EQ(kvtsim::object_get("/X/network/state"), "enabled");
}

TEST_F(Platform, ASignalCutsTheSleepShort)
{
    ::setenv(kvtsim::kTimeScaleEnv, "1", 1);
    struct sigaction action {};
    action.sa_handler = [](int) {};
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

TEST_F(Platform, KillAllKvtdReachesOnlyTheDaemonsOfThisRoot)
{
    const pid_t mine = start_kvtd(sp.dir(), sp.dir().c_str());
    const pid_t others[] = {start_kvtd(sp.dir(), "/tmp/kvt-sp-elsewhere"),
                            start_kvtd(sp.dir(), nullptr)};
    ASSERT_TRUE(kvttest::wait_until([&] { return kvtsim::kvtd_pids() == std::vector<int>{mine}; }));

    EXPECT_EQ(sp_system("kill -9 `pidof kvtd`"), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(mine, &status, 0), mine);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    for (pid_t pid : others) {
        EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "still running";
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

TEST_F(Platform, ResolvedPathsStayInTheirBuffer)
{
    char out[8];
    std::memset(out, 'x', sizeof out);
    sp_resolve_path("/var/log/kvtd.log", out, sizeof out);
    EXPECT_EQ(std::string(out), sp.dir().substr(0, 7));
    char full[512];
    EXPECT_EQ(std::string(sp_resolve_path("/etc/cli_mode.conf", full, sizeof full)),
              sp.dir() + "/etc/cli_mode.conf");
}

struct DefaultRootCase {
    const char *name;
    const char *sp_root;
    const char *runtime_dir;
    const char *home;
    const char *root;
};

using kvttest::PrintTo;

class DefaultRoot : public testing::TestWithParam<DefaultRootCase> {};

TEST_P(DefaultRoot, IsPerUserAndNeverTheSharedTemporaryDirectory)
{
    const DefaultRootCase &c = GetParam();
    const std::pair<const char *, const char *> vars[] = {
        {kvtsim::kRootEnv, c.sp_root}, {"XDG_RUNTIME_DIR", c.runtime_dir}, {"HOME", c.home}};
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    for (const auto &[name, value] : vars) {
        const char *old = std::getenv(name);
        saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name, value, 1);
    }
    EXPECT_EQ(kvtsim::configured_root(), c.root);
    for (const auto &[name, value] : saved) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Environment, DefaultRoot,
    testing::Values(DefaultRootCase{"SpRootWins", "/srv/sp", "/run/user/7", "/home/u", "/srv/sp"},
                    DefaultRootCase{"RuntimeDirectory", "", "/run/user/7", "/home/u",
                                    "/run/user/7/kvt-sp"},
                    DefaultRootCase{"HomeDirectory", "", "", "/home/u", "/home/u/.kvt-sp"}),
    kvttest::by_name);

struct PathCase {
    const char *path;
    bool host_console;
    bool ends_in_escapechars;
};

class RouterPath : public testing::TestWithParam<PathCase> {};

TEST_P(RouterPath, ConsoleAndSuffixTests)
{
    const PathCase &c = GetParam();
    EXPECT_EQ(is_host_console(c.path) != 0, c.host_console);
    EXPECT_EQ(strrcmp_helper(c.path, "escapechars", 11) == 0, c.ends_in_escapechars);
}

INSTANTIATE_TEST_SUITE_P(Paths, RouterPath,
                         testing::Values(PathCase{"/SP/console/escapechars", true, true},
                                         PathCase{"/SP/consol", false, false},
                                         PathCase{"/X/escapechars", false, true},
                                         PathCase{"scapechars", false, false},
                                         PathCase{"/HOST/console", true, false}));

} // namespace
