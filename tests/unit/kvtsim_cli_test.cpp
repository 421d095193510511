// The kvtsim tool refuses what it cannot do as asked, says why, and changes
// nothing; it lists the faults it can inject.
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

namespace fs = std::filesystem;

struct Ran {
    int code = -1;
    std::string out;
    std::string err;
};

Ran kvtsim_cli(const std::string &words)
{
    const std::string scratch = kvtsim::sim_path("cli." + std::to_string(::getpid()));
    const std::string line = std::string(KVT_BINARY_DIR) + "/kvtsim " + words + " >" + scratch +
                             ".out 2>" + scratch + ".err";
    const int status = std::system(line.c_str());
    Ran ran{WIFEXITED(status) ? WEXITSTATUS(status) : -1, kvttest::read_file(scratch + ".out"),
            kvttest::read_file(scratch + ".err")};
    fs::remove(scratch + ".out");
    fs::remove(scratch + ".err");
    return ran;
}

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
    const Ran ran = kvtsim_cli(GetParam().words);
    EXPECT_EQ(ran.code, 2);
    EXPECT_NE(ran.err.find(GetParam().says), std::string::npos) << ran.err;
    EXPECT_TRUE(kvtsim::faults_active().empty());
    EXPECT_EQ(kvtsim::users().size(), users_before);
    EXPECT_EQ(kvtsim::nv_get("keyswitch_state"), "0");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Arguments, KvtsimRefuses, ::testing::Values(
    Refusal{"UnknownFaultName", "fault set bogus.name 5", "kvtsim: unknown fault name bogus.name"},
    Refusal{"FamilyWithoutItsArgument", "fault set luapi.get: 5", "unknown fault name luapi.get:"},
    Refusal{"FaultValueOutOfRange", "fault set card.read 99999999999", "fault value 99999999999 is not a number"},
    Refusal{"FaultCountOutOfRange", "fault set card.read 5 -2", "fault count -2"},
    Refusal{"IpmiUserIdOutOfRange", "ipmi-cmd user-name 99999999999 x", "IPMI user id 99999999999 is not from 1 to 63"},
    Refusal{"KeyswitchPositionOutOfRange", "nv keyswitch_state 7", "keyswitch_state 7 is not a keyswitch position"}),
    kvttest::by_name);
// clang-format on

TEST(Kvtsim, FaultListShowsTheActiveFaultsAndEveryNameAsHelpDoes)
{
    kvttest::SimRoot root;
    ASSERT_EQ(kvtsim_cli("fault set luapi.get:/X/network/state 5 2").code, 0);
    const Ran list = kvtsim_cli("fault list");
    EXPECT_EQ(list.code, 0);
    EXPECT_NE(list.out.find("active:\n  luapi.get:/X/network/state value 5 count 2\nnames:\n"),
              std::string::npos)
        << list.out;
    const Ran help = kvtsim_cli("help");
    for (const std::string &name : kvtsim::fault_names()) {
        EXPECT_NE(list.out.find("  " + name), std::string::npos) << name;
        EXPECT_NE(help.out.find("  " + name + "\n"), std::string::npos) << name;
    }
}

} // namespace
