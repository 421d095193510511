// Replacing a file keeps what the administrator set: its owner, group and
// mode, and a link that leads it elsewhere, unless someone else could have
// planted that link. Driven through the CLI-mode restore, the replacement
// with the most at stake.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/files.hpp"
#include "sections/climode.hpp"
#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

namespace fs = std::filesystem;
using kvttest::PrintTo;

constexpr uid_t kSelf = 1000;
constexpr uid_t kOwner = 2000;
constexpr uid_t kStranger = 3000;

struct LinkCase {
    const char *name;
    uid_t link_owner;
    uid_t directory_owner;
    mode_t directory_mode;
    const char *refusal; // nullptr: followed
};

class LinkRule : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkRule, FollowsOnlyLinksNobodyButRootOrTheOwnersCouldPlant)
{
    const LinkCase &c = GetParam();
    struct stat link {};
    struct stat directory {};
    link.st_uid = c.link_owner;
    directory.st_uid = c.directory_owner;
    directory.st_mode = S_IFDIR | c.directory_mode;
    EXPECT_STREQ(kvt::link_refusal(link, directory, kOwner, kSelf), c.refusal);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Links, LinkRule, ::testing::Values(
    LinkCase{"RootsLinkInRootsDirectory", 0, 0, 0755, nullptr},
    LinkCase{"TheFileOwnersLink", kOwner, 0, 0755, nullptr},
    LinkCase{"TheDaemonsOwnLink", kSelf, kSelf, 0700, nullptr},
    LinkCase{"InAStickyDirectoryAllMayWrite", 0, 0, 01777, nullptr},
    LinkCase{"OwnedByAnotherUser", kStranger, 0, 0755, "it is owned by another user"},
    LinkCase{"InAnotherUsersDirectory", 0, kStranger, 0755, "its directory is owned by another user"},
    LinkCase{"InADirectoryOthersMayWrite", 0, 0, 0777, "its directory is writable by group or others"},
    LinkCase{"InADirectoryItsGroupMayWrite", 0, 0, 0775, "its directory is writable by group or others"}),
    kvttest::by_name);
// clang-format on

mode_t mode_of(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class Replacement : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::memset(&kvt_image, 0, sizeof kvt_image);
        kvt_image.climode_table[0].name.store("new");
        kvt_image.climode_table[0].mode.store("default");
    }
    std::string in_root(const char *fixed) { return kvtsim::path_in_root(fixed); }
    kvttest::SimRoot root_;
};

// The daemon makes the file as fopen "w+" does; a file that is there keeps
// its mode, owner and group, the group also when only the group differs
// from the daemon's.
TEST_F(Replacement, KeepsModeOwnerAndGroupAndMakesANewFileUnderTheUmask)
{
    const std::string file = in_root("/etc/cli_mode.conf");
    const bool root = ::geteuid() == 0;
    for (const uid_t owner : {kStranger, uid_t{0}}) {
        ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
        ASSERT_TRUE(!root || ::chown(file.c_str(), owner, kStranger) == 0) << owner;
        restore_climode();
        EXPECT_EQ(kvtsim::cli_mode_file(), "new:default\n");
        EXPECT_EQ(mode_of(file), 0640u);
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_TRUE(!root || (st.st_uid == owner && st.st_gid == kStranger)) << owner;
    }

    for (const mode_t umask : {022, 0}) {
        fs::remove(file);
        const mode_t saved = ::umask(umask);
        restore_climode();
        ::umask(saved);
        EXPECT_EQ(mode_of(file), 0666u & ~umask) << std::oct << umask;
    }
}

// A replacement is over at its first failed step: each later step fails
// with that step's result, and the file keeps its old contents.
TEST_F(Replacement, IsOverAtItsFirstFailedStep)
{
    const std::string old_file = "old:default\n";
    ASSERT_EQ(kvtsim::write_cli_mode_file(old_file), 0);
    kvtsim::fault_set("file.open:/etc/cli_mode.conf.new", EACCES, 1);
    kvt::FileReplacement unopened(kCliModePath, 0644);
    EXPECT_EQ(unopened.write("new:default\n").failed, kvt::ReplaceStep::open);
    EXPECT_EQ(unopened.commit().failed, kvt::ReplaceStep::open);

    kvtsim::fault_set("file.write", EIO, 1);
    kvt::FileReplacement unwritten(kCliModePath, 0644);
    EXPECT_EQ(unwritten.write("new:default\n").failed, kvt::ReplaceStep::write);
    EXPECT_EQ(unwritten.commit("new:default\n").failed, kvt::ReplaceStep::write);
    EXPECT_EQ(kvtsim::cli_mode_file(), old_file);
}

struct PlantedLink {
    const char *name;
    const char *target; // as the link holds it
    std::function<void(const std::string &etc, const std::string &link)> shape;
    const char *refusal; // nullptr: followed
};

std::ptrdiff_t open_descriptors()
{
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

class Links : public Replacement, public ::testing::WithParamInterface<PlantedLink> {};

// A link at the path: its target (a fixed path again, under the root) is
// replaced in its own directory and the link stays, with no descriptor left
// open, through up to eight links, one of them at the top; a ninth, or a
// link someone else could have planted, or a way to no regular file, stops
// the restore before anything is written.
TEST_P(Links, AreFollowedUnlessSomeoneElseCouldHavePlantedThem)
{
    const PlantedLink &c = GetParam();
    fs::create_directories(in_root("/data"));
    const std::string target = in_root("/data/cli_mode.conf");
    std::ofstream(target) << "old:default\n";
    ::chmod(target.c_str(), 0600);
    const std::string link = in_root("/etc/cli_mode.conf");
    fs::remove(link);
    fs::create_symlink(c.target, link);
    c.shape(in_root("/etc"), link);

    const bool followed = c.refusal == nullptr;
    if (followed) {
        const auto open_before = open_descriptors();
        restore_climode();
        EXPECT_EQ(open_descriptors(), open_before);
    } else
        EXPECT_EXIT(restore_climode(), ::testing::ExitedWithCode(255), c.refusal);
    ::chmod(in_root("/etc").c_str(), 0755);

    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(kvttest::read_file(target), followed ? "new:default\n" : "old:default\n");
    EXPECT_EQ(mode_of(target), 0600u);
    EXPECT_FALSE(fs::exists(target + ".new"));
    EXPECT_EQ(kvttest::log_count("restore_climode: failed to open cli_mode file "
                                 "/etc/cli_mode.conf\n"),
              followed ? 0 : 1);
}

const auto kUnchanged = [](const std::string &, const std::string &) {};

// Links /data/hop1 to /data/hop<count> on from the first, the last leading to the file.
auto hops(int count)
{
    return [count](const std::string &etc, const std::string &) {
        for (int hop = 1; hop <= count; ++hop) {
            const std::string next =
                hop == count ? "cli_mode.conf" : "hop" + std::to_string(hop + 1);
            fs::create_symlink("/data/" + next, etc + "/../data/hop" + std::to_string(hop));
        }
    };
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Planted, Links, ::testing::Values(
    PlantedLink{"Absolute", "/data/cli_mode.conf", kUnchanged, nullptr},
    PlantedLink{"Relative", "../data/cli_mode.conf", kUnchanged, nullptr},
    PlantedLink{"ThroughALinkAtTheTop", "/hop", [](const std::string &etc, const std::string &) { fs::create_symlink("/data/cli_mode.conf", etc + "/../hop"); }, nullptr},
    PlantedLink{"EightOnTheWay", "/data/hop1", hops(7), nullptr},
    PlantedLink{"NineOnTheWay", "/data/hop1", hops(8), "more than 8 links on the way"},
    PlantedLink{"InAStickyDirectoryAllMayWrite", "/data/cli_mode.conf", [](const std::string &etc, const std::string &) { ::chmod(etc.c_str(), 01777); }, nullptr},
    PlantedLink{"InADirectoryOthersMayWrite", "/data/cli_mode.conf", [](const std::string &etc, const std::string &) { ::chmod(etc.c_str(), 0777); }, "the link /etc/cli_mode.conf is not followed: its directory is writable by group or others"},
    PlantedLink{"ToADirectory", "/data", kUnchanged, "/data is not a regular file"},
    PlantedLink{"OwnedByAnotherUser", "/data/cli_mode.conf", [](const std::string &etc, const std::string &link) { if (::geteuid() != 0 || ::lchown(link.c_str(), kStranger, kStranger) != 0) ::chmod(etc.c_str(), 0777); }, " is not followed: "}),
    kvttest::by_name);
// clang-format on

} // namespace
