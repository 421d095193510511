// The kvtsim tool refuses what it cannot do as asked, says why, and changes
// nothing.
#include <gtest/gtest.h>

#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"
#include "tests/support/tool_run.hpp"

namespace {

// Exit 2: the tool refuses what it cannot do as asked. Exit 1: the simulated
// services refuse it, as a real SP's would. Either way nothing changes.
struct Refusal {
    const char *name;
    const char *words;
    int status;
    const char *says;
};

using kvttest::PrintTo;

class KvtsimRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(KvtsimRefuses, WithItsExitStatusAMessageAndNoChange)
{
    const kvttest::SimRoot root;
    const auto users_before = kvtsim::users();
    const auto prompt_before = kvtsim::object_get("/X/darvcli/prompt");
    const kvttest::ToolRun ran = kvttest::run_tool("kvtsim", GetParam().words);
    EXPECT_EQ(ran.status, GetParam().status);
    EXPECT_TRUE(kvttest::has(ran, GetParam().says)) << ran.out;
    EXPECT_TRUE(kvtsim::faults_active().empty());
    EXPECT_EQ(kvtsim::users().size(), users_before.size());
    EXPECT_EQ(kvtsim::users().front().roles, users_before.front().roles);
    EXPECT_EQ(kvtsim::nv_get("keyswitch_state"), "0");
    EXPECT_EQ(kvtsim::object_get("/X/darvcli/prompt"), prompt_before);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Arguments, KvtsimRefuses, ::testing::Values(
    Refusal{"UnknownFaultName", "fault set bogus.name 5", 2, "kvtsim: unknown fault name bogus.name"},
    Refusal{"FamilyWithoutItsArgument", "fault set luapi.get: 5", 2, "unknown fault target  of luapi.get:"},
    Refusal{"FileTheDaemonNeverOpens", "fault set file.open:/nope 5", 2, "unknown fault target /nope of file.open:"},
    Refusal{"ObjectTheSpHasNot", "fault set luapi.set:/X/nosuch 5", 2, "unknown fault target /X/nosuch"},
    Refusal{"FaultValueOutOfRange", "fault set card.read 99999999999", 2, "fault value 99999999999 is not a number"},
    Refusal{"FaultCountOutOfRange", "fault set card.read 5 -2", 2, "fault count -2"},
    Refusal{"IpmiUserIdOutOfRange", "ipmi-cmd user-name 99999999999 x", 2, "IPMI user id 99999999999 is not from 1 to 63"},
    Refusal{"KeyswitchPositionOutOfRange", "nv keyswitch_state 7", 2, "keyswitch_state 7 is not a keyswitch position"},
    Refusal{"UnknownRole", "user-roles root nosuchrole", 1, "kvtsim: user-roles failed\n"},
    Refusal{"UserWithUnknownRole", "user-add eve 3000 pw nosuchrole", 1, "kvtsim: user-add failed\n"},
    Refusal{"NameUseraddRefuses", "user-add ev:e 3000 pw admin", 1, "kvtsim: user-add failed\n"},
    Refusal{"NewlineInAText", "set /X/darvcli/prompt \"$(printf 'a\\nb')\"", 1, "kvtsim: set (value refused) failed\n"}),
    kvttest::by_name);
// clang-format on

} // namespace
