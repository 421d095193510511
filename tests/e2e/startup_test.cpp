// Start-up reconciliation, end to end: a restore takes the card's settings
// and leaves the card carrying this SP's header; the start waits for IPMI.
// Each path's log, line for line, is in startup_log_test.cpp.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/card_watch.hpp"

namespace kvttest {
namespace {

// The card of another SP carrying this SP's former settings, which have
// since been changed on the SP. The header written at the end of the
// restore is what keeps the monitor from calling that card foreign. Two
// user changes fail on the way: the restore goes on and its summary says so.
TEST(RestoreFromOtherSpsCard, TakesTheCardsSettingsAndTheMonitorStaysQuiet)
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
    EXPECT_TRUE(log_has("restore summary: users applied with 2 failures (see lines above)\n"))
        << root.service_log();
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
    EXPECT_EQ(kvtsim::ipmi_sessions_open(), 0);
    EXPECT_TRUE(ends_cleanly_on_sigterm(daemon));
}

} // namespace
} // namespace kvttest
