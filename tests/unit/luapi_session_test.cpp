// Sessions, reads and writes of the configuration-object service, with
// failures injected into the simulated service.
#include <gtest/gtest.h>

#include <cstring>

#include "base/luapi_session.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using Lines = std::vector<std::string>;

// Each message follows the time text and a blank: hence the leading blanks.
void expect_lines_in_order(const std::string &log, const Lines &lines)
{
    EXPECT_EQ(kvttest::missing_in_order(log, lines), "") << "missing or out of order\n" << log;
}

class Luapi : public testing::Test {
  protected:
    void SetUp() override
    {
        init_luapi_session(&session);
        std::memset(out, 'Q', sizeof out);
    }
    void TearDown() override { close_luapi_session(&session); }
    std::string out_text() const { return std::string(out, sizeof out); }
    kvttest::SimRoot root;
    luapi_session session;
    char out[16];
};

TEST_F(Luapi, LongValueIsSetAsItsFirst1023Characters)
{
    ASSERT_EQ(set_obj_val(&session, "/X/system_identifier", std::string(1100, 'v').c_str()), 0);
    EXPECT_EQ(kvtsim::object_get("/X/system_identifier"), std::string(1023, 'v'));
}

// A value is cut to the caller's buffer; an unknown path leaves the buffer
// as it was, a failed read after a good test read empties it.
TEST_F(Luapi, ReadsAreCutToTheBufferAndFailuresLeaveOrEmptyIt)
{
    EXPECT_EQ(get_obj_val(&session, "/X/no/such", out, sizeof out), -1);
    EXPECT_EQ(out_text(), std::string(sizeof out, 'Q'));
    ASSERT_EQ(kvtsim::object_set("/X/system_identifier", "abcdefghijkl"), 0);
    ASSERT_EQ(get_obj_val(&session, "/X/system_identifier", out, 8), 0);
    EXPECT_EQ(out_text(), std::string("abcdefg\0QQQQQQQQ", 16));
    ASSERT_EQ(get_obj_val(&session, "/X/system_identifier", out, 1), 0);
    EXPECT_EQ(out_text(), std::string("\0bcdefg\0QQQQQQQQ", 16));
    EXPECT_EQ(get_obj_val(&session, "/X/system_identifier", out, 0), 0); // nothing to fill
    EXPECT_EQ(out_text(), std::string("\0bcdefg\0QQQQQQQQ", 16));
    kvtsim::fault_set("luapi.get:/X/network/state", 9);
    EXPECT_EQ(get_obj_val(&session, "/X/network/state", out, sizeof out), 0);
    EXPECT_STREQ(out, "");
    expect_lines_in_order(root.service_log(),
                          {" luapife_test_get_obj_val /X/no/such failed luapi_errno: ",
                           " luapife_get_obj_val FAILED, luapi_errno: 9\n"});
}

constexpr const char *kSsh = "/X/services/ssh/state";
constexpr const char *kPort = "/X/clients/smtp/port";

struct SetCase {
    const char *name;
    const char *path, *value;
    const char *fault; // "luapi.<op>:" + path fails with `error`, or nullptr
    long error;        // the luapi_errno logged; 0: the value was set
    bool refused_by_test_set;
};

using kvttest::PrintTo;

class LuapiSet : public Luapi, public testing::WithParamInterface<SetCase> {};

TEST_P(LuapiSet, FailuresAreLoggedAndLeaveTheValue)
{
    const SetCase &c = GetParam();
    const std::string path = c.path, value = c.value, error = std::to_string(c.error);
    const auto before = kvtsim::object_get(path);
    if (c.fault)
        kvtsim::fault_set(std::string(c.fault) + path, c.error);
    EXPECT_EQ(set_obj_val(&session, c.path, c.value), c.error == 0 ? 0 : -1);
    EXPECT_EQ(kvtsim::object_get(path), c.error == 0 ? value : before);
    if (c.error == 0)
        return;
    Lines lines{" set failed " + error + "\n", " \tpath " + path + " val " + value + "\n"};
    if (c.refused_by_test_set)
        lines = {" test set of " + path + "  to " + value + " failed " + error + "\n"};
    lines.push_back(" set_obj_val failed, luapi_errno is  " + error + " errno is ");
    expect_lines_in_order(root.service_log(), lines);
}

// Only the SSH state is test-written before it is set.
const SetCase kSetCases[] = {
    {"SshRefusedByItsTestWrite", kSsh, "maybe", nullptr, 22, true},
    {"SshRefusedByTheWrite", kSsh, "disabled", "luapi.set:", 6, false},
    {"PortSetWithoutATestWrite", kPort, "2525", "luapi.test_set:", 0, false},
};
INSTANTIATE_TEST_SUITE_P(Cases, LuapiSet, testing::ValuesIn(kSetCases), kvttest::by_name);

// A failed open, session destroy or close has its one line, proven end to
// end by the fatal-path table; a failed session create logs more.
TEST(SessionCreate, FailureEndsInTheFatalStopWithItsLines)
{
    ::setenv(kvtsim::kTimeScaleEnv, "0.01", 0);
    kvttest::SimRoot root;
    luapi_session s;
    kvtsim::fault_set("luapi.session_create", 12);
    kvtsim::fault_set("luapi.close", 13);
    EXPECT_EXIT(init_luapi_session(&s), testing::ExitedWithCode(255), "");
    expect_lines_in_order(
        root.service_log(),
        {" luapife_session_create failed luapi_errno is 12\n",
         " luapife_close after failed luapife_session_create failed luapi_errno is 13\n",
         " luapi_errno is 13\n", " shutting down\n", " ===== kvtd shutting down =====\n"});
}

} // namespace
