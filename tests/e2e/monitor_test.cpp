// The card monitor, end to end: kvtd watching the simulated card slot, its
// faults in the SP's fault log and its marker files.
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/card_watch.hpp"
#include "tests/support/rows.hpp"

namespace kvttest {
namespace {

using Lines = std::vector<std::string>;

constexpr const char *kDifferent = "/dev/shm/kvt_different";
constexpr const char *kRemoved = "/dev/shm/kvt_removed";

class Monitor : public ::testing::Test {
  protected:
    // kvtd monitoring the card it captured. A test that must act within
    // the one-minute wait for the card asks for a slower clock.
    void start(double time_scale = 0.01)
    {
        daemon.emplace(DaemonOptions{.time_scale = time_scale});
        ASSERT_TRUE(wait_for_log(kRunning)) << root.service_log();
    }

    SimRoot root;
    std::optional<Daemon> daemon;
};

struct BadCardCase {
    const char *name;
    void (*take_out)(const kvtsim::ImageBytes &own);
    const char *logged;
    const char *marker;
    const char *fault;
    const char *clear;
    const char *check; // the card check's result, as the status file gives it
};

using kvttest::PrintTo;

class CardGoneBad : public Monitor, public ::testing::WithParamInterface<BadCardCase> {};

TEST_P(CardGoneBad, RaisesItsFaultUntilThisSpsCardIsBackAndMonitoringGoesOn)
{
    const BadCardCase &c = GetParam();
    start(0.05);
    const auto own = kvtsim::card_image();
    ASSERT_TRUE(own.has_value());
    c.take_out(*own);
    ASSERT_TRUE(wait_for_fault_line("event 65"));
    EXPECT_TRUE(root.exists(c.marker));
    EXPECT_TRUE(log_has(c.logged));
    EXPECT_EQ(read_status()[kvt::status::key::check], c.check) << read_file(status_path());

    ASSERT_EQ(kvtsim::card_insert_image(*own), 0);
    ASSERT_TRUE(wait_for_fault_line(c.clear));
    // The all-clear is sent just before the marker is removed.
    EXPECT_TRUE(wait_until([&] { return !root.exists(c.marker); }));
    EXPECT_TRUE(ends_cleanly_on_sigterm(*daemon)); // it returns only at a passing check
    EXPECT_EQ(kvtsim::fault_log(), (Lines{c.fault, "event 65", "event 66", c.clear}));
}

kvtsim::ImageBytes with_byte(kvtsim::ImageBytes image, std::size_t at, unsigned char value)
{
    image.at(at) = value;
    return image;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cards, CardGoneBad, ::testing::Values(
    BadCardCase{"Pulled", [](const auto &) { kvtsim::card_pull(); }, "i2c_writeread failed", kRemoved, "fault 64 KVT_REMOVED", "clear 64 KVT_REMOVED", "-1"},
    BadCardCase{"OtherSps", [](const auto &) { kvtsim::card_insert_image(kvtsim::foreign_image(kOtherSpMac)); }, "Different KVT detected.", kDifferent, "fault 63 KVT_DIFFERENT", "clear 63 KVT_DIFFERENT", "-4"},
    BadCardCase{"LeftByAFatalStop", [](const auto &own) { kvtsim::card_insert_image(with_byte(own, 0, 0xFF)); }, "KVT Header Version Incorrect\n", kRemoved, "fault 64 KVT_REMOVED", "clear 64 KVT_REMOVED", "-2"},
    BadCardCase{"HeaderChecksumWrong", [](const auto &own) { kvtsim::card_insert_image(with_byte(own, 7, own[7] ^ 1)); }, "Data read from KVT fails checksum", kRemoved, "fault 64 KVT_REMOVED", "clear 64 KVT_REMOVED", "-3"}),
    kvttest::by_name);
// clang-format on

// Two runs of failed checks with a pass between them: the pass resets the
// count, so neither run reaches the three that declare a fault.
class ShortFailureRuns : public Monitor, public ::testing::WithParamInterface<int> {};

TEST_P(ShortFailureRuns, RaiseNothing)
{
    start();
    MacReads checks;
    for (int run = 1; run <= 2; ++run) {
        kvtsim::fault_set("i2c", EIO, GetParam());
        ASSERT_TRUE(wait_for_log("i2c_writeread failed", run * GetParam()));
        ASSERT_TRUE(checks.wait_for(1));
    }
    ASSERT_TRUE(checks.wait_for(3));
    EXPECT_TRUE(kvtsim::fault_log().empty());
}

INSTANTIATE_TEST_SUITE_P(OneOrTwo, ShortFailureRuns, ::testing::Values(1, 2));

TEST_F(Monitor, MarkersLeftByAnEarlierRunAreClearedAtStart)
{
    for (const char *marker : {kDifferent, kRemoved}) {
        const std::filesystem::path path = kvtsim::path_in_root(marker);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream{path};
    }
    start();
    EXPECT_FALSE(root.exists(kDifferent));
    EXPECT_FALSE(root.exists(kRemoved));
    EXPECT_EQ(kvtsim::fault_log(), (Lines{"clear 63 KVT_DIFFERENT", "clear 64 KVT_REMOVED"}));
}

// The faults the status file lists, each as its event and name.
Lines status_faults()
{
    Lines faults;
    for (const std::string &fault : read_status().faults)
        faults.push_back(fault.substr(0, fault.find(kvt::status::kRaisedAt)));
    return faults;
}

class CardNotReplaced : public Monitor, public ::testing::WithParamInterface<bool> {};

TEST_P(CardNotReplaced, TakesTheSpOutOfServiceAndTheNextStartCapturesAfresh)
{
    const bool network_set_fails = GetParam();
    const std::string network_fault = network_set_fails ? "68 CANT_DISABLE_NET" : "69 NET_DISABLED";
    const auto network_before = kvtsim::object_get("/X/network/state");
    start();
    if (network_set_fails)
        kvtsim::fault_set("luapi.set:/X/network/state", 1);
    kvtsim::card_pull();
    ASSERT_TRUE(daemon->wait_exit().has_value()) << root.service_log();

    EXPECT_EQ(kvtsim::fault_log(),
              (Lines{"fault 64 KVT_REMOVED", "event 65", "fault 67 KVT_NOT_REPLACED",
                     "disable_powerons", "fault " + network_fault}));
    EXPECT_EQ(kvtsim::object_get("/X/network/state"),
              network_set_fails ? network_before : std::optional<std::string>("disabled"));
    EXPECT_EQ(kvtsim::power_ops(), (Lines{"0 /SYS 2"}));
    EXPECT_EQ(kvtsim::daemon_state(), "shutdown");
    EXPECT_EQ(status_faults(), (Lines{"64 KVT_REMOVED", "67 KVT_NOT_REPLACED", network_fault}));
    EXPECT_EQ(read_status()[kvt::status::key::failures], "10")
        << "three checks to the fault, six while waiting, one for the card's kind";
    EXPECT_TRUE(root.exists(kRemoved)); // the fatal-path table proves the next start
}

INSTANTIATE_TEST_SUITE_P(NetworkSet, CardNotReplaced, ::testing::Values(false, true));

} // namespace
} // namespace kvttest
