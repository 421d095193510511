// The card library's copy of the card against the real daemon: it is
// trusted only while it is provably the card, so no write of kvtd's ever
// leaves a section mixed, and no record ever judges an image in memory.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/sections.hpp"
#include "cardlib/layout.hpp"
#include "sim/control.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/event_recorder.hpp"

namespace kvttest {
namespace {

constexpr const char *kLinkUp = "registered for events\n";

kvt::Image card_as_image()
{
    kvt::Image image{};
    const kvtsim::ImageBytes card = kvtsim::card_image().value();
    std::memcpy(&image, card.data(), card.size());
    return image;
}

bool card_port_is(unsigned port)
{
    const auto card = kvtsim::card_image();
    return card && card_as_image().mailhost_port.get() == port;
}

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
    ASSERT_TRUE(
        wait_until([] { return card_as_image().customerinfo.view() == "rack ABAB row 4"; }));
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

// A board without a card-change line: the card is pulled (the monitor's
// header read fails), changed elsewhere by another writer that never
// touches the spare bytes, and put back within the monitor's minute. The
// next change reads the card again instead of trusting the old copy.
TEST_F(CardCoherence, ACardChangedOutOfASlotWithoutACardChangeLineIsReadAgain)
{
    kvtsim::fault_set("card.detect");
    ASSERT_NO_FATAL_FAILURE(start());
    std::vector<unsigned char> part = kvtsim::card_eeprom();
    ASSERT_EQ(kvtsim::card_pull(), 0);
    ASSERT_TRUE(wait_for_log("i2c_writeread failed"));
    kvt::Image elsewhere{};
    std::memcpy(&elsewhere, &part[kvtsim::kImageOffset], sizeof elsewhere);
    elsewhere.mailhost_address.store("mail.example.net");
    kvt::update_all_checksums(elsewhere);
    const auto image = kvt::image_bytes(elsewhere);
    std::copy(image.begin(), image.end(), part.begin() + kvtsim::kImageOffset);
    ASSERT_EQ(kvtsim::card_insert_eeprom(part), 0);

    ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", "27"), 0);
    ASSERT_TRUE(wait_until([] { return card_port_is(27); }));
    expect_card_is_this_sps();
    EXPECT_TRUE(ends_cleanly_on_sigterm(*daemon_));
}

} // namespace
} // namespace kvttest
