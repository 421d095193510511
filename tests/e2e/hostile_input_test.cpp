// Cards and roots that someone else shaped, against the real kvtd: nothing
// they hold may trap the SP in a loop of fatal stops, forge log lines,
// reach files outside the root, or leave files others can write.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/e2e/card_watch.hpp"
#include "tests/support/rows.hpp"

namespace kvttest {
namespace {

namespace fs = std::filesystem;

// Another SP's card with `edit` applied and every checksum made good.
void insert_foreign_card(const std::function<void(kvt::Image &)> &edit)
{
    const kvtsim::ImageBytes bytes = kvtsim::foreign_image(kOtherSpMac);
    kvt::Image image;
    std::memcpy(&image, bytes.data(), sizeof image);
    edit(image);
    kvt::update_all_checksums(image);
    ASSERT_EQ(kvtsim::card_insert_image(kvt::image_bytes(image)), 0);
}

// Starts "kvtd -b" and gives its exit code once start-up is over.
int start_in_background()
{
    Daemon daemon({.args = {"-b"}});
    const int code = exit_code(daemon.wait_exit());
    // The background child runs on; the next start takes the lock after it.
    for (int pid : kvtsim::kvtd_pids())
        ::kill(pid, SIGTERM);
    EXPECT_TRUE(wait_no_daemon());
    return code;
}

// What a card holds goes to the SP as the restore always sent it: the SP's
// services refuse what they cannot hold, and only CLI-mode lines that would
// not read back are left out. Card texts reach the log escaped.
TEST(HostileCard, GoesToTheSpsServicesAndOnlyLinesThatWouldNotReadBackAreLeftOut)
{
    SimRoot root;
    ASSERT_NO_FATAL_FAILURE(capture_a_card());
    ASSERT_NO_FATAL_FAILURE(insert_foreign_card([](kvt::Image &image) {
        std::memset(image.climode_table, 0, sizeof image.climode_table);
        const char *modes[][2] = {
            {"go\tod", "\x1b[1m"}, {"bob", ""}, {"x\nadmin", "default"}, {"a:b", "m"}};
        for (std::size_t k = 0; k < 4; ++k) {
            image.climode_table[k].name.store(modes[k][0]);
            image.climode_table[k].mode.store(modes[k][1]);
        }
        image.cliprompt.store("\x1b[1msp>\x1b[0m");
        image.user_table[5].name.store("ev\nil");
        image.user_table[5].password.store("pw");
        image.role_table[5].set(0x01);
    }));

    EXPECT_EQ(start_in_background(), 0);
    EXPECT_EQ(kvtsim::cli_mode_file(), "go\tod:\x1b[1m\n");
    EXPECT_EQ(kvtsim::object_get("/X/darvcli/prompt"), "\x1b[1msp>\x1b[0m");
    for (const char *line : {
             "restore_climode: skipping entry 1 (bob:): empty mode\n",
             "restore_climode: skipping entry 2 (x\\nadmin:default): newline in name\n",
             "restore_climode: skipping entry 3 (a:b:m): colon in name\n",
             "kvtd: failed to add user ev\\nil ret=-1\n",
             "restore summary: users applied with 1 failures (see lines above)\n",
             "restore summary: CLI modes applied with 3 left out (see lines above)\n",
             "restore summary: misc settings applied\n",
         })
        EXPECT_EQ(log_count(line), 1) << line;
    EXPECT_EQ(log_count("\nadmin"), 0) << "a card text began a log line of its own";
    EXPECT_EQ(log_count("\x1b"), 0);

    // The next start captures the file the restore wrote: no parse error.
    kvtsim::set_daemon_state("shutdown");
    EXPECT_EQ(start_in_background(), 0);
    EXPECT_EQ(log_count("parse error!"), 0);
    EXPECT_EQ(log_count("===== kvtd shutting down =====\n"), 0);
}

// A small tmpfs over a directory of the root, holding its files and filled
// up.
bool mount_full(const std::string &dir, std::string &error)
{
    std::vector<std::pair<fs::path, std::string>> saved;
    for (const auto &entry : fs::directory_iterator(dir))
        if (entry.is_regular_file())
            saved.emplace_back(entry.path().filename(), read_file(entry.path().string()));
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=16k,mode=0755") != 0) {
        error = std::strerror(errno);
        return false;
    }
    for (const auto &[name, text] : saved) {
        std::ofstream(dir + "/" + name.string()) << text;
        fs::permissions(dir + "/" + name.string(), fs::perms(0644));
    }
    std::ofstream filler(dir + "/filler");
    for (int i = 0; i < 64 && filler; ++i)
        filler << std::string(1024, 'f') << std::flush;
    fs::permissions(dir + "/filler", fs::perms::owner_read | fs::perms::owner_write);
    return true;
}

mode_t mode_of(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// The daemon in the background runs with a umask of 0: the card is pulled
// until the daemon gives up, which leaves every kind of file it creates.
TEST(DaemonFiles, NoneIsWritableByOthersWhateverTheUmask)
{
    SimRoot root;
    const mode_t saved = ::umask(0);
    {
        Daemon daemon({.args = {"-b"}});
        EXPECT_EQ(exit_code(daemon.wait_exit()), 0);
        ASSERT_TRUE(wait_for_log(kRunning));
        ASSERT_EQ(kvtsim::card_pull(), 0);
        ASSERT_TRUE(wait_until([&] { return root.exists("/dev/shm/kvt_removed"); }));
        ASSERT_TRUE(wait_until([&] { return root.exists("/var/log/daemon_critical.log"); }));
        ASSERT_TRUE(wait_no_daemon());
    }
    ::umask(saved);
    for (const char *file : {"/var/log/daemon_critical.log", "/dev/shm/kvt_removed",
                             "/var/log/kvtd.log", "/var/log/kvtd.frame.log"})
        EXPECT_EQ(mode_of(kvtsim::path_in_root(file)) & 0022, 0u) << file;
    EXPECT_EQ(mode_of(kvtsim::path_in_root("/var/tmp/kvtd_lock")), 0600u);
}

// A link in the root leads to a path under the root: an absolute target
// is a fixed path of the SP, never a file outside it.
TEST(SpRoot, LinksInTheRootNeverLeadOutOfIt)
{
    SimRoot root;
    ASSERT_NO_FATAL_FAILURE(capture_a_card());
    ASSERT_NO_FATAL_FAILURE(insert_foreign_card([](kvt::Image &) {}));
    const fs::path victims = root.dir() + ".victims";
    fs::create_directories(victims);
    for (const char *fixed : {"/var/log/kvtd.log", "/etc/cli_mode.conf"}) {
        const fs::path victim = victims / fs::path(fixed).filename();
        std::ofstream(victim) << "untouched\n";
        fs::remove(kvtsim::path_in_root(fixed));
        fs::create_symlink(victim, kvtsim::path_in_root(fixed));
    }

    start_in_background(); // the CLI-mode file's target is not there: a fatal stop
    for (const auto &victim : fs::directory_iterator(victims))
        EXPECT_EQ(read_file(victim.path().string()), "untouched\n") << victim.path();
    fs::remove_all(victims);
}

// What a program printed and its exit code, run with KVT_SP_ROOT = `dir`.
struct Ran {
    int code = -1;
    std::string out;
    std::string err;
};

Ran run_on_root(const std::string &dir, const std::string &command)
{
    const fs::path scratch = fs::temp_directory_path() / ("kvt-run." + std::to_string(::getpid()));
    const std::string out = scratch.string() + ".out";
    const std::string err = scratch.string() + ".err";
    const std::string line = "KVT_SP_ROOT='" + dir + "' " + command + " >" + out + " 2>" + err;
    const int status = std::system(line.c_str());
    Ran run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
    fs::remove(out);
    fs::remove(err);
    return run;
}

// A full disk under the simulator's own stores: the change fails, says
// why, and leaves no temporary behind.
TEST(SimFiles, AFullDiskSaysSoAndLeavesNoTemporary)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root (CI runs as root)";
    SimRoot root;
    const std::string sim = kvtsim::path_in_root("/sim");
    std::string error;
    if (!mount_full(sim, error))
        GTEST_SKIP() << "no tmpfs could be mounted here: " << error;
    const std::string prompt = *kvtsim::object_get("/X/darvcli/prompt");

    const Ran set =
        run_on_root(root.dir(), std::string(KVT_BINARY_DIR) + "/kvtsim set /X/darvcli/prompt " +
                                    std::string(20000, 'p'));
    EXPECT_EQ(set.code, 1);
    EXPECT_EQ(set.err, "kvtsim: set failed: No space left on device\n");
    for (const auto &entry : fs::directory_iterator(sim))
        EXPECT_EQ(entry.path().string().find(".new"), std::string::npos) << entry.path();
    ::umount2(sim.c_str(), MNT_DETACH);
    EXPECT_EQ(kvtsim::object_get("/X/darvcli/prompt"), prompt);
}

// A root kvtd refuses (`reason`, after "refused: ") or where it cannot take
// its lock: either way it says the lock's path and why, and exits 255.
struct BadRoot {
    const char *name;
    bool needs_root;
    std::string (*make)(const std::string &good); // returns the root to use
    int error;
    const char *reason = nullptr;
};

using kvttest::PrintTo;

class BadRoots : public ::testing::TestWithParam<BadRoot> {};

TEST_P(BadRoots, StopKvtdWithThePathAndTheReasonAndTouchNothing)
{
    const BadRoot &c = GetParam();
    if (c.needs_root && ::geteuid() != 0)
        GTEST_SKIP() << "giving the root to another user needs root";
    SimRoot good;
    const std::string dir = c.make(good.dir());
    fs::remove(good.dir() + "/var/log/kvtd.log");

    const Ran kvtd = run_on_root(dir, std::string(KVTD_BINARY) + " -b");
    EXPECT_EQ(kvtd.code, 255);
    EXPECT_EQ(kvtd.out, "kvtd: cannot take the lock " + dir +
                            "/var/tmp/kvtd_lock: " + std::strerror(c.error) + "\n");
    if (c.reason != nullptr) {
        EXPECT_NE(kvtd.err.find(std::string("refused: ") + c.reason), std::string::npos)
            << kvtd.err;
        EXPECT_FALSE(fs::exists(good.dir() + "/var/log/kvtd.log"));
    }
    fs::permissions(good.dir(), fs::perms::owner_all);
    ::chown(good.dir().c_str(), ::geteuid(), ::getegid());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Roots, BadRoots, ::testing::Values(
    BadRoot{"WritableByOthers", false, [](const std::string &d) { fs::permissions(d, fs::perms::all); return d; }, EACCES, "writable by group or others"},
    BadRoot{"SymbolicLink", false, [](const std::string &d) { const std::string link = d + ".link"; fs::create_symlink(d, link); return link; }, EACCES, "it is a symbolic link"},
    BadRoot{"OwnedByAnotherUser", true, [](const std::string &d) { EXPECT_EQ(::chown(d.c_str(), 4242, 4242), 0); return d; }, EACCES, "owned by uid 4242"},
    BadRoot{"MissingRoot", false, [](const std::string &d) { return d + ".missing"; }, ENOENT},
    BadRoot{"LockIsADirectory", false, [](const std::string &d) { fs::create_directory(d + "/var/tmp/kvtd_lock"); return d; }, EISDIR}),
    kvttest::by_name);
// clang-format on

} // namespace
} // namespace kvttest
