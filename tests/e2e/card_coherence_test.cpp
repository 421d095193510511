// The card library's copy of the card against the real daemon: it is
// trusted only while it is provably the card, so no write of kvtd's ever
// leaves a section mixed, and no record ever judges an image in memory.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "base/status.hpp"
#include "cardlib/layout.hpp"
#include "sim/control.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/event_recorder.hpp"

namespace kvttest {
namespace {

constexpr const char *kLinkUp = "registered for events\n";

class CardCoherence : public testing::Test {
  protected:
    void start()
    {
        daemon_.emplace();
        ASSERT_TRUE(wait_for_log(kRunning) && wait_for_log(kLinkUp)) << root_.service_log();
    }

    SimRoot root_;
    EventManager em_;
    std::optional<Daemon> daemon_;
};

// A live change of customer information cut by a power loss between its
// two pages ("ABAB" to "BABA" keeps the XOR checksum right), and an SP whose
// configuration is what the cut left: start-up refuses the card, captures,
// and its check of the image it built is the acceptance rule alone. The
// capture changes no byte, yet it ends the refusal.
TEST_F(CardCoherence, ACaptureEqualToACardRefusedForACutIsAcceptedAndEndsTheRefusal)
{
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_EQ(kvtsim::object_set("/X/system_identifier", "rack ABAB row 4"), 0);
    // Written whole: the status names a write only once it has ended, so
    // the cut below cannot fall into this one's last steps.
    ASSERT_TRUE(wait_until(
        [] { return read_status()[kvt::status::key::write] == "section 6 (customer info)"; }));
    ASSERT_EQ(card_as_image().customerinfo.view(), "rack ABAB row 4");
    kvtsim::fault_set("card.power_cut", cardlib::kSlotSize + 2, 1);
    ASSERT_EQ(kvtsim::object_set("/X/system_identifier", "rack BABA row 4"), 0);
    // The record, then the two pages the change programs: the second is
    // meant, but never reaches the card.
    ASSERT_TRUE(wait_until(
        [] { return count_in(read_file(kvtsim::sim_path("card/power_cut")), "\n") == 3; }));
    daemon_.reset(); // the power is gone: kill -9
    ASSERT_EQ(card_as_image().customerinfo.view(), "rack BAAB row 4");
    ASSERT_EQ(kvtsim::object_set("/X/system_identifier", "rack BAAB row 4"), 0);
    clear_log();

    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_TRUE(
        log_has("startup decision: capture (card invalid: write interrupted in section 6)"));
    EXPECT_FALSE(log_has("internal error image just made is invalid!"));
    EXPECT_TRUE(log_has("wrote KVT\n"));
    ASSERT_TRUE(ends_cleanly_on_sigterm(*daemon_));
    clear_log();
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_TRUE(log_has("startup decision: nothing to do (card valid, MAC matches, not moved)"));
    EXPECT_TRUE(ends_cleanly_on_sigterm(*daemon_));
}

} // namespace
} // namespace kvttest
