// The fatal stop: what it leaves on the SP once the process is gone, with
// nothing else running and with an event on another thread in the middle
// of changing a section. The stop waits for nothing. Alone, it writes the
// whole image, so a change stored but never written still reaches the card
// under the invalid header; while another thread writes sections, it takes
// only the image's header and each section as that thread last handed it
// over. The thread the stop comes from makes no difference: the end-to-end
// fatal paths stop from the main thread and from the delivery thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>

#include <unistd.h>

#include "base/fatal_stop.hpp"
#include "card/image.hpp"
#include "platform/card_lib.h"
#include "tests/support/sim_root.hpp"

namespace {

// An event's writer that has written customer information once and keeps
// changing it without getting to write it again.
void change_a_section_forever()
{
    static std::atomic<bool> begun{false};
    std::thread([] {
        if (write_out_KVT(&kvt_image.customerinfo, sizeof kvt_image.customerinfo + 1) != 0)
            std::abort();
        for (unsigned n = 0;; ++n) {
            kvt_image.customerinfo.chars[n % 8] = static_cast<char>('a' + n % 26);
            begun = true;
        }
    }).detach();
    while (!begun)
        std::this_thread::yield();
}

void stop(bool busy)
{
    if (busy)
        change_a_section_forever();
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

    EXPECT_EXIT(stop(GetParam()), testing::ExitedWithCode(255), "");

    const std::regex critical_line(R"((^|\n)\d\d/\d\d/\d{4} \d\d:\d\d:\d\d cfgdbd/PID=(\d+) - )"
                                   R"(SERVER SHUTDOWN INITIATED:kvtd shutting down\.\n)");
    std::smatch match;
    const std::string critical = root.read("/var/log/daemon_critical.log");
    ASSERT_TRUE(std::regex_search(critical, match, critical_line)) << critical;
    EXPECT_NE(std::stoi(match[2].str()), ::getpid()) << "names the stopped process";

    // The header as kvt_image holds it, version 0xFF; customer information
    // as stored (alone) or as last handed over (changed meanwhile).
    kvt::Image expected{};
    expected.hdr_version = 0xFF;
    expected.customerinfo.store("lab rack 7");
    EXPECT_TRUE(std::ranges::equal(kvtsim::card_image().value(), kvt::image_bytes(expected)));
    EXPECT_EQ(kvtsim::daemon_state(), "shutdown");
    EXPECT_EQ(kvttest::log_count("===== kvtd shutting down =====\n"), 1);
}

INSTANTIATE_TEST_SUITE_P(Image, FatalStop, testing::Bool(), [](const auto &row) {
    return std::string(row.param ? "ChangedByAnEventMeanwhile" : "Alone");
});

} // namespace
