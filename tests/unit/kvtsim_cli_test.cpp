// The kvtsim tool refuses what it cannot do as asked, says why, and changes
// nothing.
#include <gtest/gtest.h>

#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"
#include "tests/support/tool_run.hpp"

namespace {

struct Refusal {
    const char *name;
    const char *words;
    const char *says;
};

using kvttest::PrintTo;

class KvtsimRefuses : public ::testing::TestWithParam<Refusal> {
  protected:
    kvttest::SimRoot root_;
};

TEST_P(KvtsimRefuses, WithExitTwoAMessageAndNoChange)
{
    const auto users_before = kvtsim::users().size();
    const kvttest::ToolRun ran = kvttest::run_tool("kvtsim", GetParam().words);
    EXPECT_EQ(ran.status, 2);
    EXPECT_TRUE(kvttest::has(ran, GetParam().says)) << ran.out;
    EXPECT_TRUE(kvtsim::faults_active().empty());
    EXPECT_EQ(kvtsim::users().size(), users_before);
    EXPECT_EQ(kvtsim::nv_get("keyswitch_state"), "0");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Arguments, KvtsimRefuses, ::testing::Values(
    Refusal{"UnknownFaultName", "fault set bogus.name 5", "kvtsim: unknown fault name bogus.name"},
    Refusal{"FamilyWithoutItsArgument", "fault set luapi.get: 5", "unknown fault target  of luapi.get:"},
    Refusal{"FileTheDaemonNeverOpens", "fault set file.open:/nope 5", "unknown fault target /nope of file.open:"},
    Refusal{"ObjectTheSpHasNot", "fault set luapi.set:/X/nosuch 5", "unknown fault target /X/nosuch"},
    Refusal{"FaultValueOutOfRange", "fault set card.read 99999999999", "fault value 99999999999 is not a number"},
    Refusal{"FaultCountOutOfRange", "fault set card.read 5 -2", "fault count -2"},
    Refusal{"IpmiUserIdOutOfRange", "ipmi-cmd user-name 99999999999 x", "IPMI user id 99999999999 is not from 1 to 63"},
    Refusal{"KeyswitchPositionOutOfRange", "nv keyswitch_state 7", "keyswitch_state 7 is not a keyswitch position"}),
    kvttest::by_name);
// clang-format on

// What the simulated services refuse, as a real SP's would: the change
// fails (exit 1) and nothing changes.
struct Failure {
    const char *name;
    const char *words;
    const char *says;
};

class KvtsimFails : public ::testing::TestWithParam<Failure> {
  protected:
    kvttest::SimRoot root_;
};

TEST_P(KvtsimFails, WhenTheServiceRefusesAndChangesNothing)
{
    const auto users_before = kvtsim::users();
    const auto objects_before = kvtsim::object_get("/X/darvcli/prompt");
    const kvttest::ToolRun ran = kvttest::run_tool("kvtsim", GetParam().words);
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(kvttest::has(ran, GetParam().says)) << ran.out;
    EXPECT_EQ(kvtsim::users().size(), users_before.size());
    EXPECT_EQ(kvtsim::users().front().roles, users_before.front().roles);
    EXPECT_EQ(kvtsim::object_get("/X/darvcli/prompt"), objects_before);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Changes, KvtsimFails, ::testing::Values(
    Failure{"UnknownRole", "user-roles root nosuchrole", "kvtsim: user-roles failed\n"},
    Failure{"UserWithUnknownRole", "user-add eve 3000 pw nosuchrole", "kvtsim: user-add failed\n"},
    Failure{"NameUseraddRefuses", "user-add ev:e 3000 pw admin", "kvtsim: user-add failed\n"},
    Failure{"NewlineInAText", "set /X/darvcli/prompt \"$(printf 'a\\nb')\"", "kvtsim: set (value refused) failed\n"}),
    kvttest::by_name);
// clang-format on

} // namespace
