// The simulated SP keeps its own files safe: whatever the umask of the
// process that makes them (the daemon in the background has 0), nobody
// but the root's owner can write them, and a root in which anything is
// writable by others is refused like one that is itself.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

namespace fs = std::filesystem;

// Makes every kind of file the simulated services keep.
void use_every_service()
{
    ASSERT_EQ(kvtsim::object_set("/X/darvcli/prompt", "p>"), 0);
    ASSERT_EQ(kvtsim::user_add({"eve", 3000, "pw", "admin", false}), 0);
    ASSERT_EQ(kvtsim::nv_set("hostname", "sp"), 0);
    ASSERT_EQ(kvtsim::write_cli_mode_file("eve:default\n"), 0);
    kvtsim::fault_set("card.read", 5, 1);
    kvtsim::set_daemon_state("shutdown");
    ASSERT_EQ(kvtsim::card_pull(), 0);
    ASSERT_EQ(kvtsim::card_insert(), 0);
}

class SimFileModes : public ::testing::TestWithParam<mode_t> {};

TEST_P(SimFileModes, AreFixedWhateverTheUmask)
{
    const mode_t saved = ::umask(GetParam());
    {
        kvttest::SimRoot root;
        use_every_service();
        for (const auto &entry : fs::recursive_directory_iterator(root.dir())) {
            struct stat st {};
            ASSERT_EQ(::lstat(entry.path().c_str(), &st), 0);
            const fs::path relative = fs::relative(entry.path(), root.dir());
            const bool secret = relative == "sim/users" || relative == "etc/.pwd.lock";
            const mode_t expected = S_ISDIR(st.st_mode) ? 0755 : secret ? 0600 : 0644;
            EXPECT_EQ(st.st_mode & 07777, expected) << relative;
        }
    }
    ::umask(saved);
}

INSTANTIATE_TEST_SUITE_P(Umasks, SimFileModes, ::testing::Values(0, 022, 077));

class BelowTheRoot : public ::testing::TestWithParam<const char *> {};

TEST_P(BelowTheRoot, AnythingWritableByOthersRefusesTheRoot)
{
    kvttest::SimRoot root;
    const std::string path = root.dir() + "/" + GetParam();
    const fs::perms before = fs::status(path).permissions();
    fs::permissions(path, fs::perms::others_write, fs::perm_options::add);
    EXPECT_EQ(kvtsim::root_refusal(root.dir()),
              std::string(GetParam()) + " in it is writable by group or others");
    fs::permissions(path, before);
    EXPECT_EQ(kvtsim::root_refusal(root.dir()), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Paths, BelowTheRoot,
                         ::testing::Values("etc/cli_mode.conf", "sim/users", "sim/objects",
                                           "var/log", "sim"));

} // namespace
