// The simulated SP's configuration services as the daemon meets them: the
// configuration-object service, the user-management library, persisted
// variables and the keyswitch.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <mutex>
#include <set>

#include <gtest/gtest.h>

#include "platform/capi.h"
#include "platform/card_lib.h"
#include "platform/event_mgr.h"
#include "platform/ipmi.h"
#include "platform/luapi.h"
#include "platform/user_mgmt.h"
#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace {

// An open connection and session, as the daemon holds one.
class Session
{
  public:
    Session()
    {
        handle_ = luapife_open(1);
        luapife_session_create(handle_, "marnint", 0, 8, &session_);
    }
    ~Session()
    {
        luapife_session_destroy(handle_, session_);
        luapife_close(handle_);
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    int set(const std::string &path, const std::string &value) const
    {
        return luapife_set_obj_val(handle_, session_, path.c_str(), value.c_str());
    }
    int test_set(const std::string &path, const std::string &value) const
    {
        return luapife_test_set_obj_val(handle_, session_, path.c_str(), value.c_str());
    }
    int test_get(const std::string &path) const
    {
        return luapife_test_get_obj_val(handle_, session_, path.c_str());
    }
    int get(const std::string &path, char *buf, int len) const
    {
        return luapife_get_obj_val(handle_, session_, path.c_str(), buf, len);
    }

  private:
    int handle_ = -1;
    int session_ = -1;
};

class SimConfig : public testing::Test
{
  protected:
    kvttest::SimRoot sp;
    Session session;
};

// ---- object values ---------------------------------------------------------

struct ValueCase {
    const char *path;
    const char *value;
    int luapi_errno; // 0: accepted
};

class ObjectValues : public SimConfig, public testing::WithParamInterface<ValueCase>
{
};

TEST_P(ObjectValues, SetAcceptsOrRefusesWithItsErrorNumber)
{
    const ValueCase &c = GetParam();
    const auto before = kvtsim::object_get(c.path);
    luapi_errno = 0;
    EXPECT_EQ(session.test_set(c.path, c.value), c.luapi_errno == 0 ? 0 : -1);
    EXPECT_EQ(session.set(c.path, c.value), c.luapi_errno == 0 ? 0 : -1);
    EXPECT_EQ(luapi_errno, c.luapi_errno);
    EXPECT_EQ(kvtsim::object_get(c.path), c.luapi_errno == 0 ? c.value : before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ObjectValues,
    testing::Values(
        ValueCase{"/X/network/ipdiscovery", "dhcp", 0},
        ValueCase{"/X/network/ipdiscovery", "DHCP", 22},
        ValueCase{"/X/network/pendingipaddress", "10.0.0.7", 0},
        ValueCase{"/X/network/pendingipaddress", "10.0.0.256", 22},
        ValueCase{"/X/network/ipgateway", "", 22},
        ValueCase{"/HOST/diag/trigger", "user-reset error-reset ", 0},
        ValueCase{"/HOST/diag/trigger", "", 0}, ValueCase{"/HOST/diag/trigger", "all-resets", 0},
        ValueCase{"/HOST/diag/trigger", "user-reset all-resets", 22},
        ValueCase{"/HOST/diag/mode", "ops31", 0}, ValueCase{"/HOST/diag/mode", "ops32", 22},
        ValueCase{"/HOST/diag/mode", "ops07", 22}, ValueCase{"/HOST/diag/mode", "bad value", 22},
        ValueCase{"/HOST/diag/power_on_verbosity", "max", 0},
        ValueCase{"/HOST/diag/power_on_verbosity", "loud", 22},
        ValueCase{"/HOST/diag/user_reset_level", "off", 0},
        ValueCase{"/HOST/autorestart", "dumpcore", 0}, ValueCase{"/HOST/autorestart", "true", 22},
        ValueCase{"/X/darvcli/event_level", "255", 0},
        ValueCase{"/X/darvcli/event_level", "256", 22},
        ValueCase{"/X/darvcli/event_level", "-1", 22},
        ValueCase{"/X/darvcli/timeout", "4294967295", 0},
        ValueCase{"/X/darvcli/timeout", "4294967296", 22},
        ValueCase{"/X/darvcli/prompt", "a:b c", 0},
        ValueCase{"/X/darvcli/prompt", "two\nlines", 22},
        ValueCase{"/X/alertmgmt/rules/15/level", "critical", 0},
        ValueCase{"/X/alertmgmt/rules/15/type", "bad value", 22},
        ValueCase{"/X/alertmgmt/rules/16/type", "email", 2},
        ValueCase{"/HOST/console/escapechars", "~~~", 0},
        ValueCase{"/X/clients/smtp/port", "NoNe", 0},
        ValueCase{"/X/clients/smtp/port", "65536", 22},
        ValueCase{"/X/clients/smtp/port", "25x", 22},
        ValueCase{"/X/policy/BACKUP_USER_DATA", "enabled ", 22},
        ValueCase{"/X/users/admin/cli_mode", "alom", 0},
        ValueCase{"/X/users/admin/password", "seventeen-chars!!", 22},
        ValueCase{"/X/users/nobody/role", "admin", 2}, ValueCase{"/X/no/such/object", "x", 2}));

// A fresh SP's values must pass their own objects' checks, or a restore of
// a captured card would be refused.
TEST_F(SimConfig, DefaultValuesAreAcceptedByTheirObjects)
{
    const char *paths[] = {
        "/X/network/ipdiscovery",
        "/X/network/ipaddress",
        "/X/network/ipnetmask",
        "/X/network/ipgateway",
        "/X/network/state",
        "/HOST/diag/trigger",
        "/HOST/diag/mode",
        "/HOST/diag/error_reset_verbosity",
        "/HOST/diag/power_on_verbosity",
        "/HOST/diag/user_reset_verbosity",
        "/HOST/diag/error_reset_level",
        "/HOST/diag/power_on_level",
        "/HOST/diag/user_reset_level",
        "/HOST/autorunonerror",
        "/HOST/autorestart",
        "/X/darvcli/prompt",
        "/X/darvcli/event_level",
        "/X/darvcli/service_mode",
        "/X/darvcli/passwd_echo",
        "/X/darvcli/ssqa_mode",
        "/X/darvcli/timeout",
        "/X/alertmgmt/rules/1/level",
        "/X/alertmgmt/rules/15/type",
        "/HOST/console/escapechars",
        "/X/system_identifier",
        "/X/services/ssh/state",
        "/X/policy/HOST_LAST_POWER_STATE",
        "/X/policy/HOST_POWER_ON_DELAY",
        "/X/policy/BACKUP_USER_DATA",
        "/X/clients/smtp/address",
        "/X/clients/smtp/port",
        "/X/clients/smtp/state",
    };
    for (const char *path : paths) {
        const auto value = kvtsim::object_get(path);
        ASSERT_TRUE(value) << path;
        EXPECT_EQ(session.test_set(path, *value), 0) << path << " = " << *value;
    }
}

TEST_F(SimConfig, CommitMakesThePendingNetworkSettingsLive)
{
    ASSERT_EQ(session.set("/X/network/pendingipdiscovery", "static"), 0);
    ASSERT_EQ(session.set("/X/network/pendingipaddress", "10.9.8.7"), 0);
    ASSERT_EQ(session.set("/X/network/pendingipnetmask", "255.255.0.0"), 0);
    ASSERT_EQ(session.set("/X/network/pendingipgateway", "10.9.0.1"), 0);
    EXPECT_NE(kvtsim::object_get("/X/network/ipaddress"), "10.9.8.7");

    ASSERT_EQ(session.set("/X/network/commitpending", "true"), 0);
    EXPECT_EQ(kvtsim::object_get("/X/network/ipdiscovery"), "static");
    EXPECT_EQ(kvtsim::object_get("/X/network/ipaddress"), "10.9.8.7");
    EXPECT_EQ(kvtsim::object_get("/X/network/ipnetmask"), "255.255.0.0");
    EXPECT_EQ(kvtsim::object_get("/X/network/ipgateway"), "10.9.0.1");
}

TEST_F(SimConfig, ReadCutsTheValueToTheBufferAndNeverWritesPastIt)
{
    ASSERT_EQ(kvtsim::object_set("/X/system_identifier", "rack 12 slot 4"), 0);
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    ASSERT_EQ(session.get("/X/system_identifier", buf, 5), 0);
    EXPECT_STREQ(buf, "rack");
    EXPECT_EQ(std::string(buf + 5, 3), "ZZZ");
}

TEST_F(SimConfig, ClosedConnectionEndsItsSessions)
{
    const int handle = luapife_open(1);
    int id = 0;
    ASSERT_EQ(luapife_session_create(handle, "marnint", 0, 8, &id), 0);
    ASSERT_EQ(luapife_close(handle), 0);
    EXPECT_EQ(luapife_test_get_obj_val(handle, id, "/X/network/state"), -1);
    EXPECT_EQ(luapi_errno, 9);
    EXPECT_EQ(luapife_session_destroy(handle, id), -1);
}

TEST_F(SimConfig, UnknownPathCannotBeRead)
{
    luapi_errno = 0;
    EXPECT_EQ(session.test_get("/X/network/ipv6address"), -1);
    EXPECT_EQ(luapi_errno, 2);
    EXPECT_FALSE(kvtsim::object_get("/X/network/ipv6address"));
}

// ---- "/X/users" objects ------------------------------------------------------

TEST_F(SimConfig, UserObjectsChangeTheUserDatabaseAndTheCliModeFile)
{
    ASSERT_EQ(session.set("/X/users/operator1/role", "operator,admin,bogus"), 0);
    ASSERT_EQ(session.set("/X/users/operator1/password", "n3w-secret"), 0);
    ASSERT_EQ(session.set("/X/users/operator1/cli_mode", "alom"), 0);
    ASSERT_EQ(session.set("/X/users/admin/cli_mode", "default"), 0);

    uint32_t mask = 0;
    EXPECT_EQ(um_unserialize_roles(kvtsim::object_get("/X/users/operator1/role")->c_str(), &mask),
              0);
    EXPECT_EQ(mask, 0x21u);
    char password[17];
    ASSERT_EQ(um_get_local_user_attr_password("operator1", password, sizeof password), 0);
    EXPECT_STREQ(password, "n3w-secret");
    EXPECT_EQ(kvtsim::cli_mode_file(), "root:default\nadmin:default\noperator1:alom\n");
}

// ---- roles -------------------------------------------------------------------

struct RolesCase {
    const char *roles;
    uint32_t mask;
    const char *canonical;
};

class Roles : public testing::TestWithParam<RolesCase>
{
};

TEST_P(Roles, TextAndMaskConvertBothWays)
{
    EXPECT_EQ(kvtsim::roles_to_mask(GetParam().roles), GetParam().mask);
    EXPECT_EQ(kvtsim::mask_to_roles(GetParam().mask), GetParam().canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Roles,
    testing::Values(RolesCase{"", 0, ""}, RolesCase{"admin,operator", 0x21, "admin,operator"},
                    RolesCase{"operator, admin ,nosuchrole", 0x21, "admin,operator"},
                    RolesCase{"read-only", 0x40, "read-only"},
                    RolesCase{"ipmi,admin,user,console,reset,operator", 0x8000002F,
                              "admin,user,console,reset,operator,ipmi"}));

// ---- enumeration and user ids -----------------------------------------------

std::vector<std::string> enumerate()
{
    std::vector<std::string> names;
    um_endatent();
    um_atent entry{};
    um_atent *result = nullptr;
    char buf[2048];
    while (um_getatent_r(&entry, buf, sizeof buf, &result) == 0 && result)
        names.emplace_back(result->name);
    um_endatent();
    return names;
}

TEST_F(SimConfig, EnumerationIsStableAndListsAddedUsersLast)
{
    const std::vector<std::string> before = enumerate();
    ASSERT_GE(before.size(), 7u);
    EXPECT_EQ(before.front(), "root");
    EXPECT_EQ(enumerate(), before);

    ASSERT_EQ(um_add_local_user("zed", 1009), 0);
    ASSERT_EQ(um_delete_local_user("admin"), 0);
    std::vector<std::string> after = enumerate();
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.back(), "zed");
    EXPECT_EQ(std::count(after.begin(), after.end(), "admin"), 0);
}

TEST_F(SimConfig, EnumerationRefusesATooSmallBufferWithoutWritingPastIt)
{
    um_endatent();
    um_atent entry{};
    um_atent *result = nullptr;
    char buf[16];
    std::memset(buf, 'Z', sizeof buf);
    // "root" + NUL + "admin" + NUL needs 11 bytes
    EXPECT_NE(um_getatent_r(&entry, buf, 10, &result), 0);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(std::string(buf + 10, 6), "ZZZZZZ");
    ASSERT_EQ(um_getatent_r(&entry, buf, 11, &result), 0);
    EXPECT_STREQ(result->name, "root");
    EXPECT_STREQ(result->roles, "admin");
    um_endatent();
}

TEST_F(SimConfig, UidLookupSeesUsersAddedThroughTheLibrary)
{
    const uid_t uid = ipmi_uid_to_linux_uid(7);
    EXPECT_EQ(uid, 1007u);
    EXPECT_EQ(pwdb_uid_exists(uid), 0);
    ASSERT_EQ(pwdb_lock(), 0);
    ASSERT_EQ(um_add_local_user("restored", uid), 0);
    ASSERT_EQ(um_set_local_user_roles("restored", 0x8000002C), 0);
    ASSERT_EQ(pwdb_unlock(), 0);
    EXPECT_EQ(pwdb_uid_exists(uid), 1);
    EXPECT_NE(um_add_local_user("other", uid), 0); // the id is taken
    const auto users = kvtsim::users();
    const auto restored = std::find_if(users.begin(), users.end(),
                                       [](const kvtsim::User &u) { return u.name == "restored"; });
    ASSERT_NE(restored, users.end());
    EXPECT_EQ(restored->roles, "console,reset,operator,ipmi");
}

TEST_F(SimConfig, RootAndProxyAccountsAreReported)
{
    EXPECT_NE(um_is_user_enabled(0), 0);
    EXPECT_NE(um_user_is_proxy("ldapproxy"), 0);
    EXPECT_EQ(um_user_is_proxy("admin"), 0);
    ASSERT_EQ(um_delete_local_user("root"), 0);
    EXPECT_EQ(um_is_user_enabled(0), 0);
}

// ---- faults --------------------------------------------------------------------

struct LuapiFaultCase {
    const char *fault;
    long value;
    int (*call)(const Session &);
};

class LuapiFaults : public SimConfig, public testing::WithParamInterface<LuapiFaultCase>
{
};

TEST_P(LuapiFaults, FailWithTheFaultsErrorNumber)
{
    kvtsim::fault_set(GetParam().fault, GetParam().value, 1);
    luapi_errno = 0;
    EXPECT_EQ(GetParam().call(session), -1);
    EXPECT_EQ(luapi_errno, GetParam().value);
    EXPECT_EQ(GetParam().call(session), 0); // a counted fault clears itself
}

int open_and_close(const Session &)
{
    const int handle = luapife_open(1);
    return handle < 0 ? -1 : luapife_close(handle);
}

int create_session(const Session &)
{
    const int handle = luapife_open(1);
    int session = 0;
    const int result = luapife_session_create(handle, "marnint", 0, 8, &session);
    if (result == 0)
        luapife_session_destroy(handle, session);
    luapife_close(handle);
    return result;
}

int commit(const Session &s)
{
    return s.set("/X/network/commitpending", "true");
}
int test_set_ssh(const Session &s)
{
    return s.test_set("/X/services/ssh/state", "enabled");
}
int test_get_mode(const Session &s)
{
    return s.test_get("/HOST/diag/mode");
}
int get_mode(const Session &s)
{
    char buf[32];
    return s.get("/HOST/diag/mode", buf, sizeof buf);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LuapiFaults,
    testing::Values(LuapiFaultCase{"luapi.open", 5, open_and_close},
                    LuapiFaultCase{"luapi.session_create", 13, create_session},
                    LuapiFaultCase{"luapi.set:/X/network/commitpending", 113, commit},
                    LuapiFaultCase{"luapi.test_set:/X/services/ssh/state", 22, test_set_ssh},
                    LuapiFaultCase{"luapi.test_get:/HOST/diag/mode", 2, test_get_mode},
                    LuapiFaultCase{"luapi.get:/HOST/diag/mode", 5, get_mode}));

TEST_F(SimConfig, RefusedCommitLeavesTheLiveSettings)
{
    ASSERT_EQ(session.set("/X/network/pendingipaddress", "10.1.1.1"), 0);
    kvtsim::fault_set("luapi.set:/X/network/commitpending", 113);
    EXPECT_EQ(session.set("/X/network/commitpending", "true"), -1);
    EXPECT_EQ(kvtsim::object_get("/X/network/ipaddress"), "192.168.1.10");
}

struct UmFaultCase {
    const char *fault;
    int (*call)();
};

class UmFaults : public SimConfig, public testing::WithParamInterface<UmFaultCase>
{
};

TEST_P(UmFaults, FailTheOperationWithTheFaultsValue)
{
    kvtsim::fault_set(GetParam().fault, -7);
    EXPECT_EQ(GetParam().call(), -7);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UmFaults,
    testing::Values(UmFaultCase{"um.add", [] { return um_add_local_user("new", 1008); }},
                    UmFaultCase{"um.delete", [] { return um_delete_local_user("admin"); }},
                    UmFaultCase{"um.set_password",
                                [] { return um_set_local_user_password("admin", "x"); }},
                    UmFaultCase{"um.set_roles", [] { return um_set_local_user_roles("admin", 1); }},
                    UmFaultCase{"um.get_password", [] {
                                    char buf[17];
                                    return um_get_local_user_attr_password("root", buf, 17);
                                }}));

TEST_F(SimConfig, NoFreeUidFaultMakesEveryUidTaken)
{
    kvtsim::fault_set("um.no_free_uid");
    EXPECT_EQ(pwdb_uid_exists(ipmi_uid_to_linux_uid(11)), 1);
    kvtsim::fault_set("um.root_disabled");
    EXPECT_EQ(um_is_user_enabled(0), 0);
}

// ---- persisted variables and the keyswitch -------------------------------------

TEST_F(SimConfig, PersistedVariablesKeepTheirRowsAndValues)
{
    ASSERT_EQ(kvtsim::nv_set("sp_post_diag_mode", "ops3"), 0);
    char *value = nullptr;
    ASSERT_EQ(nvval_get("sp_post_diag_mode", &value), 0);
    EXPECT_STREQ(value, "ops3");
    std::free(value);
    EXPECT_NE(nvval_get("no_such_variable", &value), 0);
    kvtsim::fault_set("nv.get:sp_post_diag_mode");
    EXPECT_NE(nvval_get("sp_post_diag_mode", &value), 0);

    std::set<std::string> names;
    for (const nv_file_entry &row : nv_file_table) {
        ASSERT_NE(row.name, nullptr);
        names.insert(row.name);
    }
    EXPECT_EQ(names.size(), std::size(nv_file_table)); // 51 rows, no name twice
    EXPECT_EQ(names.count("keyswitch_state"), 1u);
}

TEST_F(SimConfig, DiagModeSetIsKeptInItsPersistedVariable)
{
    ASSERT_EQ(session.set("/HOST/diag/mode", "menu"), 0);
    EXPECT_EQ(kvtsim::nv_get("sp_post_diag_mode"), "menu");
}

TEST_F(SimConfig, KeyswitchIsThePersistedVariable)
{
    uint32_t position = 9;
    ASSERT_EQ(capi_get_keyswitch(&position), 0);
    EXPECT_EQ(position, 0u);
    ASSERT_EQ(capi_set_keyswitch(3), 0);
    EXPECT_EQ(kvtsim::nv_get("keyswitch_state"), "3");
    EXPECT_EQ(capi_set_keyswitch(4), -1);
    ASSERT_EQ(capi_get_keyswitch(&position), 0);
    EXPECT_EQ(position, 3u);
    kvtsim::fault_set("capi.get_keyswitch");
    kvtsim::fault_set("capi.set_keyswitch");
    EXPECT_EQ(capi_get_keyswitch(&position), -1);
    EXPECT_EQ(capi_set_keyswitch(1), -1);
}

// Read-modify-writes from two writers at once lose nothing.
TEST_F(SimConfig, ConcurrentSetsOfDifferentObjectsAllLand)
{
    auto writer = [](const char *path) {
        for (int i = 0; i <= 40; ++i)
            kvtsim::object_set(path, std::to_string(i));
    };
    std::thread first(writer, "/X/darvcli/timeout");
    std::thread second(writer, "/X/darvcli/event_level");
    first.join();
    second.join();
    EXPECT_EQ(kvtsim::object_get("/X/darvcli/timeout"), "40");
    EXPECT_EQ(kvtsim::object_get("/X/darvcli/event_level"), "40");
}

// ---- audit events ---------------------------------------------------------------

// What an audit record said, and operator1's roles when it was delivered.
struct Announced {
    int type = 0;
    std::uint32_t command_or_row = 0;
    std::string path;
    std::string value;
    std::string operator_roles;
};

std::mutex announced_mutex;
std::vector<Announced> announced;

std::string text_at(const char *data, unsigned length, std::uint32_t offset)
{
    if (offset >= length)
        return {};
    return std::string(data + offset, strnlen(data + offset, length - offset));
}

extern "C" void record_audit(void *, int, int type, void *payload, unsigned length, void *)
{
    const char *data = static_cast<const char *>(payload);
    Announced event;
    event.type = type;
    if (type == 2 && length >= 24) {
        std::uint32_t offsets[2];
        std::memcpy(&event.command_or_row, data, 4);
        std::memcpy(offsets, data + 8, sizeof offsets);
        event.path = text_at(data, length, offsets[0]);
        event.value = text_at(data, length, offsets[1]);
    }
    if (type == 4 && length >= 6) {
        event.command_or_row = static_cast<unsigned char>(data[0]);
        event.value = text_at(data, length, 6);
    }
    for (const kvtsim::User &user : kvtsim::users())
        if (user.name == "operator1")
            event.operator_roles = user.roles;
    const std::lock_guard guard(announced_mutex);
    announced.push_back(event);
}

class Announcements : public SimConfig
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em"), 0);
        ASSERT_EQ(event_mgr_get_handle(&handle_, record_audit, nullptr), 0);
        ASSERT_EQ(event_mgr_subscribe_event_class(handle_, 106), 0);
        const std::lock_guard guard(announced_mutex);
        announced.clear();
    }
    void TearDown() override
    {
        event_mgr_release_handle(handle_);
        kvtsim::em_stop();
    }

    // Everything announced up to and including the set of `last_path`.
    static std::vector<Announced> until(const std::string &last_path)
    {
        std::vector<Announced> seen;
        kvttest::wait_until([&] {
            const std::lock_guard guard(announced_mutex);
            seen = announced;
            return !seen.empty() && seen.back().path == last_path;
        });
        return seen;
    }

  private:
    event_mgr_handle_t handle_ = 0;
};

TEST_F(Announcements, SetIsAnnouncedAfterTheUserDatabaseChanged)
{
    EXPECT_EQ(session.set("/X/darvcli/timeout", "soon"), -1); // refused: not announced
    ASSERT_EQ(session.set("/X/users/operator1/role", "admin"), 0);
    const auto seen = until("/X/users/operator1/role");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].type, 2);
    EXPECT_EQ(seen[0].command_or_row, 3u);
    EXPECT_EQ(seen[0].value, "admin");
    EXPECT_EQ(seen[0].operator_roles, "admin");
}

TEST_F(Announcements, PersistedVariableChangeIsAnnouncedByItsRow)
{
    ASSERT_EQ(capi_set_keyswitch(2), 0);
    ASSERT_EQ(capi_set_keyswitch(2), 0); // unchanged: not announced
    ASSERT_EQ(kvtsim::object_set("/X/system_identifier", "done"), 0);
    const auto seen = until("/X/system_identifier");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].type, 4);
    EXPECT_STREQ(nv_file_table[seen[0].command_or_row].name, "keyswitch_state");
    EXPECT_EQ(seen[0].value, "2");
}

} // namespace
