// The fatal stop, from the main thread and from another thread: what it
// leaves on the SP once the process is gone.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include <unistd.h>

#include "card/image.hpp"
#include "service/fatal_stop.hpp"
#include "tests/support/sim_root.hpp"

namespace
{

void stop_from(bool other_thread)
{
    if (!other_thread)
        kvtd_fatal_stop();
    std::thread([] { kvtd_fatal_stop(); }).join();
}

class FatalStop : public testing::TestWithParam<bool>
{
};

TEST_P(FatalStop, LeavesCriticalLineInvalidatedCardAndShutdownState)
{
    ::setenv(kvtsim::kTimeScaleEnv, "0.01", 0); // the stop's 10-second wait
    kvttest::SimRoot root;
    ASSERT_EQ(kvtsim::card_insert_image(kvtsim::ImageBytes{}), 0);
    kvt_image = kvt::Image{};
    kvt_image.hdr_version = kvt::kImageVersion;
    kvt_image.customerinfo.store("lab rack 7");

    EXPECT_EXIT(stop_from(GetParam()), testing::ExitedWithCode(255), "");

    const std::regex critical_line(R"((^|\n)\d\d/\d\d/\d{4} \d\d:\d\d:\d\d cfgdbd/PID=(\d+) - )"
                                   R"(SERVER SHUTDOWN INITIATED:kvtd shutting down\.\n)");
    std::smatch match;
    const std::string critical = root.read("/var/log/daemon_critical.log");
    ASSERT_TRUE(std::regex_search(critical, match, critical_line)) << critical;
    EXPECT_NE(std::stoi(match[2].str()), ::getpid()) << "names the stopped process";

    kvt::Image expected = kvt_image;
    expected.hdr_version = 0xFF;
    const auto card = kvtsim::card_image();
    ASSERT_TRUE(card.has_value());
    EXPECT_TRUE(std::ranges::equal(*card, kvt::image_bytes(expected))) << "whole image written";
    EXPECT_EQ(kvtsim::daemon_state(), "shutdown");
    EXPECT_EQ(kvttest::log_count("===== kvtd shutting down =====\n"), 1);
}

INSTANTIATE_TEST_SUITE_P(Threads, FatalStop, testing::Bool(), [](const auto &param_info) {
    return param_info.param ? "OtherThread" : "MainThread";
});

} // namespace
