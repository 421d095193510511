// The fatal stop: what it leaves on the SP once the process is gone, with
// the card image free and with an event that never lets go of it. The
// thread the stop comes from makes no difference: the end-to-end fatal
// paths stop from the main thread and from the delivery thread.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>

#include <unistd.h>

#include "card/image.hpp"
#include "service/fatal_stop.hpp"
#include "tests/support/sim_root.hpp"

namespace {

// An event's handler that took the image and never returns.
void hold_the_image_forever()
{
    std::atomic<bool> held{false};
    std::thread([&held] {
        card_image_lock().lock();
        held = true;
        for (;;)
            ::pause();
    }).detach();
    while (!held)
        std::this_thread::yield();
}

void stop(bool stuck)
{
    if (stuck)
        hold_the_image_forever();
    kvtd_fatal_stop();
}

class FatalStop : public testing::TestWithParam<bool> {};

TEST_P(FatalStop, LeavesCriticalLineInvalidatedCardAndShutdownState)
{
    ::setenv(kvtsim::kTimeScaleEnv, "0.01", 0); // the stop's 10-second wait
    kvttest::SimRoot root;
    ASSERT_EQ(kvtsim::card_insert_image(kvtsim::ImageBytes{}), 0);
    kvt_image = kvt::Image{};
    kvt_image.hdr_version = kvt::kImageVersion;
    kvt_image.customerinfo.store("lab rack 7");

    const bool stuck = GetParam();
    EXPECT_EXIT(stop(stuck), testing::ExitedWithCode(255), "");

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
    EXPECT_EQ(kvttest::log_count("kvtd_fatal_stop: an event still holds the card image after 5 "
                                 "seconds, going on without it\n"),
              stuck ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Image, FatalStop, testing::Bool(), [](const auto &row) {
    return std::string(row.param ? "HeldByAStuckEvent" : "Free");
});

} // namespace
