// Start-up reconciliation, end to end: kvtd on a simulated SP chooses
// capture, restore or nothing, and leaves the card carrying this SP's header.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/card_watch.hpp"
#include "tests/support/rows.hpp"

namespace kvttest {
namespace {

enum class CardIn { blank, own, foreign, torn };

struct DecisionCase {
    const char *name;
    CardIn card;
    bool moved;
    const char *daemon_state; // left by the previous run
    const char *decision;
    int card_writes_logged;
};

using kvttest::PrintTo;

class StartupDecision : public ::testing::TestWithParam<DecisionCase> {
  protected:
    SimRoot root;
};

TEST_P(StartupDecision, LogsItsReasonAndLeavesTheCardCarryingThisSpsHeader)
{
    const DecisionCase &c = GetParam();
    if (c.card != CardIn::blank) {
        ASSERT_NO_FATAL_FAILURE(capture_a_card());
    }
    if (c.card == CardIn::foreign) {
        ASSERT_EQ(kvtsim::card_insert_image(kvtsim::foreign_image(kOtherSpMac)), 0);
    }
    if (c.card == CardIn::torn) { // power lost half way through a section write
        kvtsim::ImageBytes torn = kvtsim::card_image().value();
        const std::string_view half = "rack 7, row 3, hall";
        const auto customer = torn.begin() + kvt::span_of(kvt::Section::customer).first;
        std::copy(half.begin(), half.end(), customer);
        ASSERT_EQ(kvtsim::card_insert_image(torn), 0);
    }
    kvtsim::set_moved(c.moved);
    kvtsim::set_daemon_state(c.daemon_state);

    Daemon daemon;
    ASSERT_TRUE(wait_for_log(kRunning)) << root.service_log();
    EXPECT_TRUE(log_has(c.decision)) << root.service_log();
    EXPECT_EQ(log_count("wrote KVT\n"), c.card_writes_logged);
    EXPECT_EQ(kvtsim::daemon_state(), "running");
    EXPECT_FALSE(kvtsim::moved());
    expect_card_is_this_sps();
    EXPECT_TRUE(ends_cleanly_on_sigterm(daemon));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cards, StartupDecision, ::testing::Values(
    DecisionCase{"BlankCard", CardIn::blank, false, "running", "startup decision: capture (card blank (erased))\n", 1},
    DecisionCase{"TornSection", CardIn::torn, false, "running", "startup decision: capture (card invalid: checksum wrong in section 6)\n", 1},
    DecisionCase{"AfterFatalStop", CardIn::own, false, "shutdown", "startup decision: capture (card valid, shutdown recorded)\n", 1},
    DecisionCase{"OwnCard", CardIn::own, false, "running", "startup decision: nothing to do (card valid, MAC matches, not moved)\n", 0},
    DecisionCase{"OwnCardMoved", CardIn::own, true, "running", "startup decision: restore (card valid, card moved)\n", 0},
    DecisionCase{"OtherSpsCard", CardIn::foreign, false, "running", "startup decision: restore (card valid, card MAC differs from SP MAC)\n", 0}),
    kvttest::by_name);
// clang-format on

// The card of another SP carrying this SP's former settings, which have
// since been changed on the SP. The header written at the end of the
// restore is what keeps the monitor from calling that card foreign. Two
// user changes fail on the way: the restore goes on and its summary says so.
TEST(RestoreFromOtherSpsCard, TakesTheCardsSettingsInOrderAndTheMonitorStaysQuiet)
{
    SimRoot root;
    ASSERT_NO_FATAL_FAILURE(capture_a_card());
    ASSERT_EQ(kvtsim::card_insert_image(kvtsim::foreign_image(kOtherSpMac)), 0);
    std::vector<std::pair<std::string, std::optional<std::string>>> card_values;
    for (const auto &[path, changed] :
         {std::pair{"/X/clients/smtp/port", "2525"}, std::pair{"/X/system_identifier", "rack 7"},
          std::pair{"/X/darvcli/prompt", "changed>"}}) {
        card_values.emplace_back(path, kvtsim::object_get(path));
        ASSERT_EQ(kvtsim::object_set(path, changed), 0) << path;
    }

    kvtsim::fault_set("um.set_roles", 0, 2);

    Daemon daemon;
    ASSERT_TRUE(wait_for_log(kRunning)) << root.service_log();
    const std::string log = root.service_log();
    const auto complete = log.find("restore complete\n");
    ASSERT_NE(complete, std::string::npos) << log;
    EXPECT_LT(log.find("restoring users\n"), log.find("restoring climode\n"));
    EXPECT_LT(log.find("restoring climode\n"), log.find("restoring network config\n"));
    EXPECT_LT(log.find("restoring network config\n"), complete);
    const auto after_complete = [&](const char *line) {
        const auto at = log.find(line);
        return at != std::string::npos && at > complete;
    };
    EXPECT_TRUE(
        after_complete("restore summary: users applied with 2 failures (see lines above)\n"))
        << log;
    EXPECT_TRUE(after_complete("restore summary: CLI modes applied\n"));
    for (const auto &[path, value] : card_values)
        EXPECT_EQ(kvtsim::object_get(path), value) << path;

    MacReads checks;
    ASSERT_TRUE(wait_until([&] { return checks.count() >= 12 || !kvtsim::fault_log().empty(); }));
    EXPECT_TRUE(kvtsim::fault_log().empty());
    EXPECT_EQ(log_count("Different KVT detected."), 0);
    expect_card_is_this_sps();
}

TEST(IpmiWait, StartWaitsForIpmiAndThenGoesOnNormally)
{
    kvtsim::RootOptions ipmi_down;
    ipmi_down.ipmi_up = false;
    SimRoot root(ipmi_down);
    Daemon daemon;
    ASSERT_TRUE(wait_for_log("waiting for IPMI\n", 3));
    EXPECT_FALSE(log_has("startup decision")); // nothing passes the wait while IPMI is down

    kvtsim::set_ipmi_up(true);
    ASSERT_TRUE(wait_for_log(kRunning)) << root.service_log();
    EXPECT_TRUE(log_has("startup decision: capture (card blank (erased))\n"));
    EXPECT_TRUE(ends_cleanly_on_sigterm(daemon));
}

} // namespace
} // namespace kvttest
