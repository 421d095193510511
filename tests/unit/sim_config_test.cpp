// The simulated SP's configuration services as the daemon meets them: the
// configuration-object service, the user-management library, persisted
// variables and their announcements. Single-call faults, the keyswitch, the
// user objects' effect on the card, the network commit and a restore of this
// SP's defaults (at start-up from another SP's card) are met through the
// daemon's own tests.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/capi.h"
#include "platform/card_lib.h"
#include "platform/ipmi.h"
#include "platform/luapi.h"
#include "platform/user_mgmt.h"
#include "sim/control.hpp"
#include "sim/locked_text.hpp"
#include "tests/support/event_recorder.hpp"
#include "tests/support/sim_root.hpp"
#include "tests/support/users.hpp"

namespace {

// An open connection and session, as the daemon holds one.
class Session {
  public:
    Session() { luapife_session_create(handle_, "marnint", 0, 8, &session_); }
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

  private:
    int handle_ = luapife_open(1);
    int session_ = -1;
};

class SimConfig : public testing::Test {
  protected:
    kvttest::SimRoot sp;
    Session session;
};

struct ValueCase {
    const char *path;
    std::vector<const char *> accepted;
    std::vector<const char *> refused; // with luapi_errno 22, or 2 for an unknown path
};

class ObjectValues : public SimConfig, public testing::WithParamInterface<ValueCase> {};

TEST_P(ObjectValues, SetAcceptsOrRefusesWithItsErrorNumber)
{
    const ValueCase &c = GetParam();
    const int refusal = kvtsim::object_get(c.path) ? 22 : 2;
    for (const char *value : c.accepted) {
        EXPECT_EQ(session.test_set(c.path, value), 0) << value;
        EXPECT_EQ(session.set(c.path, value), 0) << value;
        EXPECT_EQ(kvtsim::object_get(c.path), value);
    }
    for (const char *value : c.refused) {
        const auto before = kvtsim::object_get(c.path);
        luapi_errno = 0;
        EXPECT_EQ(session.test_set(c.path, value), -1) << value;
        EXPECT_EQ(session.set(c.path, value), -1) << value;
        EXPECT_EQ(luapi_errno, refusal) << value;
        EXPECT_EQ(kvtsim::object_get(c.path), before) << value;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ObjectValues,
    testing::Values(ValueCase{"/X/network/ipdiscovery", {"dhcp"}, {"DHCP"}},
                    ValueCase{"/X/network/pendingipaddress", {"10.0.0.7"}, {"10.0.0.256"}},
                    ValueCase{"/X/network/ipgateway", {}, {""}},
                    ValueCase{"/HOST/diag/trigger",
                              {"user-reset error-reset ", "", "all-resets"},
                              {"user-reset all-resets"}},
                    ValueCase{"/HOST/diag/mode", {"ops31"}, {"ops32", "ops07", "bad value"}},
                    ValueCase{"/HOST/diag/power_on_verbosity", {"max"}, {"loud"}},
                    ValueCase{"/HOST/diag/user_reset_level", {"off"}, {}},
                    ValueCase{"/HOST/autorestart", {"dumpcore"}, {"true"}},
                    ValueCase{"/X/darvcli/event_level", {"255"}, {"256", "-1"}},
                    ValueCase{"/X/darvcli/timeout", {"4294967295"}, {"4294967296"}},
                    ValueCase{"/X/darvcli/prompt", {"a:b c"}, {"two\nlines"}},
                    ValueCase{"/X/alertmgmt/rules/15/level", {"critical"}, {}},
                    ValueCase{"/X/alertmgmt/rules/15/type", {}, {"bad value"}},
                    ValueCase{"/HOST/console/escapechars", {"~~~"}, {}},
                    ValueCase{"/X/clients/smtp/port", {"NoNe"}, {"65536", "25x"}},
                    ValueCase{"/X/policy/BACKUP_USER_DATA", {}, {"enabled "}},
                    ValueCase{"/X/users/admin/cli_mode", {"compact"}, {}},
                    ValueCase{"/X/users/admin/password", {}, {"seventeen-chars!!"}},
                    ValueCase{"/X/alertmgmt/rules/16/type", {}, {"email"}},
                    ValueCase{"/X/users/nobody/role", {}, {"admin"}},
                    ValueCase{"/X/no/such/object", {}, {"x"}}));

struct RolesCase {
    const char *roles;
    uint32_t mask;
    const char *canonical;
};

class Roles : public testing::TestWithParam<RolesCase> {};

TEST_P(Roles, TextAndMaskConvertBothWays)
{
    EXPECT_EQ(kvtsim::roles_to_mask(GetParam().roles), GetParam().mask);
    EXPECT_EQ(kvtsim::mask_to_roles(GetParam().mask), GetParam().canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Roles,
    testing::Values(RolesCase{"", 0, ""},
                    RolesCase{"operator, admin ,nosuchrole", 0x21, "admin,operator"},
                    RolesCase{"read-only", 0x40, "read-only"},
                    RolesCase{"ipmi,admin,user,console,reset,operator", 0x8000002F,
                              "admin,user,console,reset,operator,ipmi"}));

TEST_F(SimConfig, UserIdsAndRootAreReportedAsTheDatabaseHoldsThem)
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
    EXPECT_EQ(kvttest::sp_roles("restored"), "console,reset,operator,ipmi");

    EXPECT_NE(um_is_user_enabled(0), 0);
    ASSERT_EQ(um_delete_local_user("root"), 0);
    EXPECT_EQ(um_is_user_enabled(0), 0);
}

TEST_F(SimConfig, UserManagementFaultsFailWithTheirValue)
{
    for (const char *fault : {"um.add", "um.delete", "um.set_password"})
        kvtsim::fault_set(fault, -7);
    EXPECT_EQ(um_add_local_user("new", 1008), -7);
    EXPECT_EQ(um_delete_local_user("admin"), -7);
    EXPECT_EQ(um_set_local_user_password("admin", "x"), -7);
}

TEST_F(SimConfig, PersistedVariablesKeepTheirRowsAndValues)
{
    ASSERT_EQ(session.set("/HOST/diag/mode", "menu"), 0);
    char *value = nullptr;
    ASSERT_EQ(nvval_get("sp_post_diag_mode", &value), 0);
    EXPECT_STREQ(value, "menu");
    std::free(value);
    EXPECT_NE(nvval_get("no_such_variable", &value), 0);

    std::set<std::string> names;
    for (const nv_file_entry &row : nv_file_table) {
        ASSERT_NE(row.name, nullptr);
        names.insert(row.name);
    }
    EXPECT_EQ(names.size(), std::size(nv_file_table)); // 51 rows, no name twice
    EXPECT_EQ(names.count("keyswitch_state"), 1u);
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

// The stores are set in their text: a key that begins another key, or a
// value, is not that key.
TEST(StoreText, SetsAndFindsOnlyTheWholeKeyAtALineStart)
{
    std::string text = "/a/b1\tten\n/a/b\tone\n/c\t/a/b\tnot a key";
    EXPECT_EQ(kvtsim::find_in_text(text, "/a/b"), "one");
    EXPECT_EQ(kvtsim::find_in_text(text, "/a/"), std::nullopt);
    EXPECT_EQ(kvtsim::find_in_text(text, "/c"), "/a/b\tnot a key");

    kvtsim::put_in_text(text, "/a/b", "");
    kvtsim::put_in_text(text, "/a/b1", "eleven");
    kvtsim::put_in_text(text, "/d", "new");
    EXPECT_EQ(text, "/a/b1\televen\n/a/b\t\n/c\t/a/b\tnot a key\n/d\tnew\n");
    EXPECT_EQ(kvtsim::find_in_text(text, "/a/b"), "");
}

// The text a record's 32-bit offset at `at` points to, bounded by the record.
std::string text_at(const std::string &record, std::size_t at)
{
    if (record.size() < at + 4)
        return {};
    std::uint32_t offset = 0;
    std::memcpy(&offset, record.data() + at, sizeof offset);
    return offset < record.size() ? std::string(record.c_str() + offset) : std::string();
}

// The audit records announce a change only once it was made: a subscriber
// that looks at the user database on delivery already sees it.
TEST_F(SimConfig, ChangesAreAnnouncedOnceMadeAndRefusalsOrSameValuesNot)
{
    kvttest::EventManager em;
    ASSERT_TRUE(em.started());
    kvttest::EventRecorder audit(106, [] { return kvttest::sp_roles("operator1"); });
    ASSERT_TRUE(audit.subscribed());

    ASSERT_EQ(capi_set_keyswitch(2), 0);
    ASSERT_EQ(capi_set_keyswitch(2), 0);
    EXPECT_EQ(session.set("/X/darvcli/timeout", "soon"), -1);
    ASSERT_EQ(session.set("/X/users/operator1/role", "admin"), 0);
    ASSERT_EQ(kvtsim::object_set("/X/system_identifier", "last"), 0);
    const auto seen = audit.wait([](const std::vector<kvttest::Event> &events) {
        return !events.empty() && text_at(events.back().data, 8) == "/X/system_identifier";
    });
    // The records' layouts are the event manager tests' own.
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_STREQ(nv_file_table[static_cast<unsigned char>(seen[0].data.at(0))].name,
                 "keyswitch_state");
    EXPECT_EQ(seen[0].data.substr(6), std::string("2\0", 2));
    EXPECT_EQ(text_at(seen[1].data, 8), "/X/users/operator1/role");
    EXPECT_EQ(text_at(seen[1].data, 12), "admin");
    EXPECT_EQ(seen[1].note, "admin");
}

} // namespace
