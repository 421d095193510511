// Sections 2 and 9 against the simulated SP's user database. A restore that
// runs out of user ids is one of the fatal paths tested end to end; the
// capture's account filter is pinned by the golden capture.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/user_mgmt.h"
#include "sections/climode.hpp"
#include "sections/restore_plan.hpp"
#include "sections/users.hpp"
#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvttest::log_count;
using kvttest::log_has;

std::optional<kvtsim::User> sp_user(const std::string &name)
{
    for (const kvtsim::User &user : kvtsim::users())
        if (user.name == name)
            return user;
    return std::nullopt;
}

// Leaves exactly `wanted` in the user database.
void replace_users(const std::vector<kvtsim::User> &wanted)
{
    for (const kvtsim::User &user : kvtsim::users())
        kvtsim::user_delete(user.name);
    for (const kvtsim::User &user : wanted)
        ASSERT_EQ(kvtsim::user_add(user), 0) << user.name;
}

// Every account gets an id of its own, outside those a restore hands out.
kvtsim::User account(const std::string &name, std::uint32_t mask,
                     const std::string &password = "pw")
{
    static unsigned next_uid = 2000;
    return {name, next_uid++, password, kvtsim::mask_to_roles(mask), false};
}

// The password attribute the user database keeps for `password`.
const auto hashed = kvtsim::password_attribute;

void save_user(std::size_t k, const std::string &name, const std::string &password,
               unsigned char privilege, std::uint32_t roles)
{
    kvt_image.user_table[k].name.store(name);
    kvt_image.user_table[k].password.store(password);
    kvt_image.user_table[k].privilege = privilege;
    kvt_image.role_table[k].set(roles);
}

class UserTables : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ::setenv(kvtsim::kTimeScaleEnv, "0.01", 0);
        std::memset(&kvt_image, 0, sizeof kvt_image);
        kvt_image.hdr_version = kvt::kImageVersion;
    }
    kvttest::SimRoot root_;
};

// Another user of the library left an enumeration part-way: each walk
// starts again from the first account.
void leave_enumeration_part_way()
{
    um_atent entry{};
    um_atent *result = nullptr;
    char buffer[2048];
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(um_getatent_r(&entry, buffer, sizeof buffer, &result), 0);
}

// The capture's image, or what the snapshot wrote to the card.
kvt::Image walk(bool snapshot)
{
    kvt::Image image{};
    if (!snapshot) {
        capture_user_tables(&image);
        return image;
    }
    kvtd_snapshot();
    return kvttest::card_as_image();
}

TEST_F(UserTables, BothWalksKeepTheFirstElevenAccountsWithPrivilegeFromTheMask)
{
    const std::uint32_t masks[] = {0x21, 0x01, 0x20, 0x40};
    const unsigned char privileges[] = {4, 4, 3, 0};
    std::vector<kvtsim::User> many;
    for (int i = 0; i < 14; ++i)
        many.push_back(account("user" + std::to_string(i), masks[i % 4], "pw" + std::to_string(i)));
    replace_users(many);
    for (const bool snapshot : {false, true}) {
        SCOPED_TRACE(snapshot ? "snapshot" : "capture");
        ASSERT_NO_FATAL_FAILURE(leave_enumeration_part_way());
        const kvt::Image image = walk(snapshot);
        EXPECT_FALSE(kvtsim::user_enumeration_open()) << "the walk ends what it began";
        for (std::size_t k = 0; k < kvt::kMaxUsers; ++k) {
            EXPECT_EQ(image.user_table[k].name.view(), many[k].name);
            // The user manager's hashed attribute: no card carries a password in clear.
            EXPECT_EQ(image.user_table[k].password.view(), hashed(many[k].name, many[k].password));
            EXPECT_EQ(image.user_table[k].privilege, privileges[k % 4]) << k;
            EXPECT_EQ(image.role_table[k].get(), masks[k % 4]) << k;
        }
    }
}

TEST_F(UserTables, RestoreOntoAnotherSpRecreatesUsersPasswordsAndRoles)
{
    const std::vector<kvtsim::User> saved = {account("root", 0x21, "rootpw"),
                                             account("alice", 0x21, "alicepw"),
                                             account("bob", 0x20, "bobpw")};
    std::optional<kvttest::SimRoot> first(std::in_place);
    replace_users(saved);
    capture_user_tables(&kvt_image);
    first.reset();
    // Skipped: a saved user without roles silently, a name the capture filters with its line.
    save_user(3, "ghost", "pw", 4, 0);
    save_user(4, "marnint", "pw", 4, 0x21);

    kvttest::SimRoot second;
    replace_users({account("root", 0x21, "other"), account("carol", 0x20)});
    ASSERT_NO_FATAL_FAILURE(leave_enumeration_part_way());
    restore_passwd();

    EXPECT_FALSE(kvtsim::user_enumeration_open()) << "the walk ends what it began";
    EXPECT_FALSE(sp_user("carol") || sp_user("ghost") || sp_user("marnint"));
    for (const kvtsim::User &user : saved) {
        const auto restored = sp_user(user.name);
        ASSERT_TRUE(restored.has_value()) << user.name;
        EXPECT_EQ(restored->password, hashed(user.name, user.password)) << user.name;
        EXPECT_EQ(restored->roles, user.roles) << user.name;
    }
    EXPECT_EQ(kvttest::log_messages(second.service_log()),
              (std::vector<std::string>{"kvtd: changing root password", "deleting current users",
                                        "adding in the saved users", "i: 0 name: root",
                                        "i: 1 name: alice", "i: 2 name: bob", "i: 4 name: marnint",
                                        "password restore done"}));
}

// A refusal by the user service costs that one step: it is logged and
// counted, and the restore goes on with the next.
TEST_F(UserTables, RefusedUserServiceCallsAreLoggedCountedAndPassed)
{
    const std::pair<const char *, const char *> refusals[] = {
        {"um.delete", "kvtd: error deleting user carol ret=5\n"},
        {"um.add", "kvtd: failed to add user alice ret=5\n"},
        {"um.set_password", "kvtd: failed to set user password ret=5\n"},
        {"um.set_roles", "kvtd: failed to set user roles ret=5\n"},
    };
    save_user(0, "root", hashed("root", "pw"), 4, 0x21);
    save_user(1, "alice", hashed("alice", "pw"), 3, 0x20);
    for (const auto &[fault, line] : refusals) {
        replace_users({account("root", 0x21, "pw"), account("carol", 0x20)});
        kvtsim::fault_set(fault, 5, 1);
        restore_passwd();
        EXPECT_EQ(log_count(line), 1) << fault;
        EXPECT_EQ(restore_passwd_failures(), 1) << fault;
        EXPECT_TRUE(log_has("password restore done\n")) << fault;
        kvttest::clear_log();
    }
}

struct RootCase {
    const char *name;
    bool sp_has_root;
    const char *saved_password; // nullptr: no root on the card
    const char *fault;
    const char *password_after; // in clear; nullptr: no root afterwards
    const char *line;
    int line_count;
    int failures; // counted for the restore's summary
};

using kvttest::PrintTo;

class RootRestore : public UserTables, public ::testing::WithParamInterface<RootCase> {};

// The card carries the SP's hashed attribute; a card of an older SP may
// carry a password in clear, which the user manager hashes as it sets it.
TEST_P(RootRestore, HandlesRootApart)
{
    const RootCase &c = GetParam();
    replace_users(c.sp_has_root ? std::vector{account("root", 0x21, "current")}
                                : std::vector<kvtsim::User>{});
    if (c.saved_password)
        save_user(0, "root", c.saved_password, 4, 0x21);
    if (c.fault)
        kvtsim::fault_set(c.fault, 0, 1);

    restore_passwd();

    const auto root = sp_user("root");
    ASSERT_EQ(root.has_value(), c.password_after != nullptr);
    if (root) {
        EXPECT_EQ(root->password, hashed("root", c.password_after));
        EXPECT_TRUE(c.sp_has_root || root->uid == 501u) << root->uid;
    }
    EXPECT_EQ(log_count(c.line), c.line_count) << c.line;
    EXPECT_EQ(restore_passwd_failures(), c.failures);
}

const std::string kCurrent = hashed("root", "current");
const std::string kSaved = hashed("root", "saved");

const RootCase kRoots[] = {
    {"Same", true, kCurrent.c_str(), nullptr, "current", "kvtd: changing root password\n", 0, 0},
    {"Changed", true, kSaved.c_str(), nullptr, "saved", "kvtd: changing root password\n", 1, 0},
    {"ClearTextOfAnOlderSp", true, "saved", nullptr, "saved", "kvtd: changing root password\n", 1,
     0},
    {"Created", false, kSaved.c_str(), "um.root_disabled", "saved", "changing root", 1, 0},
    {"CreatedButUnreadable", false, kSaved.c_str(), "um.get_password", "",
     "kvtd: get root password failed! - ", 1, 1},
    {"Deleted", true, nullptr, nullptr, nullptr, "kvtd: could not find root\n", 1, 0},
    {"DeletionRefused", true, nullptr, "um.delete", "current", "Could not delete user root\n", 1,
     1},
    {"RecreationRefused", false, kSaved.c_str(), "um.add", nullptr,
     "kvtd: failed to add user root ret=-1\n", 1, 2},
    {"Unreadable", true, kSaved.c_str(), "um.get_password", "current",
     "kvtd: get root password failed! - ", 1, 1},
    {"NewlineRefusedByTheUserManager", true, "sa\nved", nullptr, "current",
     "kvtd: error setting root password ret=-1\n", 1, 1},
};
INSTANTIATE_TEST_SUITE_P(Cases, RootRestore, ::testing::ValuesIn(kRoots), kvttest::by_name);

// root and sp10 to sp21: one account more than the restore replaces.
std::vector<kvtsim::User> root_and_twelve_accounts()
{
    std::vector<kvtsim::User> sp{account("root", 0x21)};
    for (int i = 10; i < 22; ++i)
        sp.push_back(account("sp" + std::to_string(i), 0x20));
    return sp;
}

// Ten saved users take the ids of IPMI users 2 to 11, the last exactly, and
// an eleventh finds none left; of the SP's accounts, the first eleven go.
TEST_F(UserTables, RestoreHandsOutIpmiIdsUpTo11AndReplacesElevenAccounts)
{
    replace_users(root_and_twelve_accounts());
    save_user(0, "root", hashed("root", "pw"), 4, 0x21);
    for (std::size_t k = 1; k < kvt::kMaxUsers; ++k)
        save_user(k, "u" + std::to_string(k), "pw", 3, 0x20);
    restore_passwd();
    EXPECT_EQ(sp_user("u10").value().uid, 1011u);
    EXPECT_FALSE(sp_user("sp20").has_value());
    EXPECT_TRUE(sp_user("sp21").has_value());

    save_user(0, "u0", "pw", 3, 0x20);
    EXPECT_EXIT(restore_passwd(), ::testing::ExitedWithCode(255), "");
    EXPECT_TRUE(log_has("kvtd: restore ran out of user id's!?!\n"));
}

// The plan adds the card's saved users and nothing read past its tables. A
// saved user whose name an account beyond the eleven replaced holds is
// shown as an add the user manager is to refuse; one of a replaced
// account's name is a plain add.
TEST_F(UserTables, PlanAddsTheSavedUsersAloneAndMarksOnesTheSpKeeps)
{
    replace_users(root_and_twelve_accounts());
    save_user(1, "sp20", "pw", 3, 0x20);
    save_user(2, "sp21", "pw", 3, 0x20);
    kvt_image.cksum9 = 0x5A; // the bytes past the role table are no user's
    kvt_image.cksum2 = 'x';
    const kvt::SectionPlan plan = kvt::describe(kvt::plan_user_restore(kvt_image));
    const std::string kept = "the SP keeps an account of that name";
    std::vector<std::pair<std::string, std::string>> adds; // the target, its reason's start
    for (const kvt::PlanStep &step : plan.steps)
        if (step.action == kvt::PlanAction::add)
            adds.emplace_back(step.target, step.reason.substr(0, kept.size()));
    EXPECT_EQ(adds, (decltype(adds){{"sp20", ""}, {"sp21", kept}}));
}

// Every saved user goes to the user manager as the card has it (a field
// without its NUL cut to the 16 characters the capture keeps); what its
// database refuses is logged and counted.
struct SavedUser {
    const char *name;
    std::function<void(kvt::UserEntry &)> poke; // entry 1, saved as "eve" / "pw" first
    const char *added_as;                       // nullptr: refused
    const char *password;                       // in clear as the SP keeps it; "" for none
    const char *line;
};

class SavedUsers : public UserTables, public ::testing::WithParamInterface<SavedUser> {};

TEST_P(SavedUsers, GoToTheUserManagerWhichRefusesWhatLinuxRefuses)
{
    const SavedUser &c = GetParam();
    replace_users({account("root", 0x21)});
    save_user(0, "root", hashed("root", "pw"), 4, 0x21);
    save_user(1, "eve", "pw", 4, 0x21);
    c.poke(kvt_image.user_table[1]);

    restore_passwd();

    const std::string tried(kvt_image.user_table[1].name.view().substr(0, 16));
    EXPECT_EQ(sp_user(tried).has_value(), c.added_as != nullptr && tried == c.added_as);
    if (c.added_as != nullptr) {
        const auto eve = sp_user(c.added_as);
        ASSERT_TRUE(eve.has_value());
        EXPECT_EQ(eve->password, *c.password ? hashed(c.added_as, c.password) : "");
    }
    EXPECT_EQ(restore_passwd_failures(), *c.line ? 1 : 0);
    if (*c.line) {
        EXPECT_EQ(log_count(c.line), 1) << c.line;
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Entries, SavedUsers, ::testing::Values(
    SavedUser{"ColonInName", [](kvt::UserEntry &e) { e.name.store("ev:il"); }, nullptr, "", "kvtd: failed to add user ev:il ret=-1\n"},
    SavedUser{"NewlineInName", [](kvt::UserEntry &e) { e.name.store("ev\nil"); }, nullptr, "", "kvtd: failed to add user ev\\nil ret=-1\n"},
    SavedUser{"DashFirst", [](kvt::UserEntry &e) { e.name.store("-eve"); }, nullptr, "", "kvtd: failed to add user -eve ret=-1\n"},
    SavedUser{"NameWithoutNul", [](kvt::UserEntry &e) { std::memset(e.name.chars, 'n', 17); }, "nnnnnnnnnnnnnnnn", "pw", ""},
    SavedUser{"EscapeInPassword", [](kvt::UserEntry &e) { e.password.store("p\x1bw"); }, "eve", "p\x1bw", ""},
    SavedUser{"NewlineInPassword", [](kvt::UserEntry &e) { e.password.store("p\nw"); }, "eve", "", "kvtd: failed to set user password ret=-1\n"},
    SavedUser{"PasswordWithoutNul", [](kvt::UserEntry &e) { std::memset(e.password.chars, 'p', 17); }, "eve", "pppppppppppppppp", ""}),
    kvttest::by_name);
// clang-format on

struct RoleCase {
    const char *name;
    unsigned char version;
    unsigned char privilege;
    std::uint32_t role_word;
    std::uint32_t expected;
};

class RoleDerivation : public UserTables, public ::testing::WithParamInterface<RoleCase> {};

TEST_P(RoleDerivation, FollowsTheImageVersion)
{
    const RoleCase &c = GetParam();
    replace_users({});
    kvt_image.hdr_version = c.version;
    save_user(0, "alice", "pw", c.privilege, c.role_word);
    restore_passwd();
    const auto alice = sp_user("alice");
    ASSERT_TRUE(alice.has_value());
    EXPECT_EQ(kvtsim::roles_to_mask(alice->roles), c.expected);
}

const RoleCase kRoleCases[] = {
    {"Version8Administrator", 8, 4, 0x01, 0x8000002F},
    {"Version8Operator", 8, 3, 0x01, 0x8000002C},
    {"Version8NoPrivilege", 8, 0, 0x01, 0x40},
    {"CurrentVersionRoleWord", 0x0B, 4, 0x20, 0x20},
};
INSTANTIATE_TEST_SUITE_P(Versions, RoleDerivation, ::testing::ValuesIn(kRoleCases),
                         kvttest::by_name);

// The flag holds for sections 2, 8 and 9 alike.
TEST_F(UserTables, NoBackupOfUserDataLeavesCardSpAndCliModesAlone)
{
    replace_users({account("root", 0x21, "current"), account("alice", 0x20)});
    ASSERT_EQ(kvtsim::write_cli_mode_file("root:admin\n"), 0);
    kvt_image.miscbits.set(kvt::KVT_NO_BACKUP_USER_DATA);
    save_user(0, "bob", "pw", 4, 0x21);
    kvt_image.climode_table[0].name.store("bob");
    kvt_image.climode_table[0].mode.store("default");
    const kvt::Image image_before = kvt_image;
    const auto card_before = kvtsim::card_image();

    kvtd_snapshot();
    kvtd_snapshot_cli_mode();
    restore_passwd();
    restore_climode();

    EXPECT_EQ(std::memcmp(&kvt_image, &image_before, sizeof kvt_image), 0);
    EXPECT_EQ(kvtsim::card_image(), card_before);
    EXPECT_TRUE(sp_user("alice") && !sp_user("bob"));
    EXPECT_EQ(kvtsim::cli_mode_file(), "root:admin\n");
    const std::string because = ": returning immediately because KVT_NO_BACKUP_USER_DATA is set\n";
    EXPECT_EQ(log_count("kvtd snapshot" + because), 2);
    EXPECT_EQ(log_count("restore_passwd" + because), 1);
    EXPECT_EQ(log_count("restore_climode" + because), 1);
}

} // namespace
