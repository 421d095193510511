// Rounds of live changes cut short by a fatal stop at a moment drawn from a
// fixed seed: whatever was in flight, the daemon must leave the card holding
// one whole, consistent image marked invalid, and nothing of itself behind.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "card/sections.hpp"
#include "platform/card_lib.h"
#include "sections/encodings.hpp"
#include "sim/audit.hpp"
#include "sim/control.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/event_recorder.hpp"

namespace kvttest {
namespace {

constexpr const char *kShutdown = "===== kvtd shutting down =====\n";
constexpr const char *kCritical = "SERVER SHUTDOWN INITIATED:kvtd shutting down.";
constexpr const char *kLinkUp = "registered for events\n";
constexpr std::size_t kMaxChangesBefore = 12;
constexpr std::size_t kMaxChangesAfter = 3;

// The fields the stream changes and the card must show if the stop came
// from a refused value: every change posted before it has been folded in.
struct Fields {
    std::optional<std::uint32_t> timeout;
    std::optional<std::uint16_t> smtp_port;
    std::optional<int> keyswitch;
};

enum class Stop { timeout_refused, keyswitch_refused, autorestart_refused, card_write };

// One change of the stream, drawn from `rng`; `fields` keeps what it set.
void make_change(std::mt19937 &rng, Fields &fields)
{
    const std::uint32_t n = rng();
    switch (n % 5) {
    case 0:
        fields.timeout = n % 7200;
        ASSERT_EQ(kvtsim::object_set("/X/darvcli/timeout", std::to_string(*fields.timeout)), 0);
        return;
    case 1:
        fields.smtp_port = static_cast<std::uint16_t>(1 + n % 65535);
        ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", std::to_string(*fields.smtp_port)), 0);
        return;
    case 2:
        fields.keyswitch = static_cast<int>(n % 4);
        ASSERT_EQ(kvtsim::nv_set("keyswitch_state", std::to_string(*fields.keyswitch)), 0);
        return;
    case 3:
        ASSERT_EQ(kvtsim::object_set("/X/users/operator1/password", "pw" + std::to_string(n)), 0);
        return;
    default:
        ASSERT_EQ(kvtsim::object_set("/X/system_identifier", "rack " + std::to_string(n % 100)), 0);
        return;
    }
}

// Returns the line the stop must log before its own, or nullptr when any
// section write may be the one that fails.
const char *trigger(Stop stop)
{
    switch (stop) {
    case Stop::timeout_refused:
        kvtsim::audit_post_luapi(3, 0, "/X/darvcli/timeout", "bogus");
        return "write_cli: error parsing timeout (bogus)\n";
    case Stop::keyswitch_refused:
        kvtsim::nv_set("keyswitch_state", "9");
        return "kvtd_write_keyswitch: error parsing value (9)\n";
    case Stop::autorestart_refused:
        kvtsim::audit_post_luapi(3, 0, "/HOST/autorestart", "bogus");
        return "kvtd_write_autorestart: bad value bogus\n";
    case Stop::card_write:
        // Fires once, so the stop's own whole-image write reaches the card;
        // the write that fails may be one still in flight.
        kvtsim::fault_set("card.write", 5, 1);
        kvtsim::object_set("/X/darvcli/prompt", "stress>");
        return nullptr;
    }
    return nullptr;
}

// The stop marks the version and writes the image as it stood, without new
// checksums: the header's still covers the version the image had, and a
// refused autorestart value leaves the misc section's covering the bits the
// writer cleared before it checked the value. `captured` is the card as the
// start wrote it; the stream never changes the autorestart bits.
void expect_sections_sound(const kvtsim::ImageBytes &card, const kvtsim::ImageBytes &captured,
                           Stop stop)
{
    kvtsim::ImageBytes covered = card;
    covered[0] = kvt::kImageVersion;
    // Both autorestart bits lie in the big-endian word's first byte.
    static_assert((kvt::kAutorestartBits & 0xFF) == 0);
    const std::size_t high = offsetof(kvt::Image, miscbits);
    const unsigned char bits = kvt::kAutorestartBits >> 8;
    if (stop == Stop::autorestart_refused) {
        EXPECT_EQ(card.at(high) & bits, 0);
        covered.at(high) =
            static_cast<unsigned char>(covered.at(high) | (captured.at(high) & bits));
    }
    for (const kvt::SectionSpan &s : kvt::kSectionMap) {
        unsigned char sum = 0;
        calculate_xor_checksum(&covered.at(s.first), static_cast<int>(s.length), &sum);
        EXPECT_EQ(sum, card.at(s.cksum)) << "section at " << s.first;
    }
}

void expect_fields(const kvtsim::ImageBytes &card, const Fields &fields)
{
    const auto at = [&card](std::size_t offset) { return std::uint32_t{card.at(offset)}; };
    const std::size_t timeout = offsetof(kvt::Image, cli_timeout);
    const std::size_t port = offsetof(kvt::Image, mailhost_port);
    if (fields.timeout) {
        EXPECT_EQ(at(timeout) << 24 | at(timeout + 1) << 16 | at(timeout + 2) << 8 |
                      at(timeout + 3),
                  *fields.timeout);
    }
    if (fields.smtp_port) {
        EXPECT_EQ(at(port) << 8 | at(port + 1), *fields.smtp_port);
    }
    if (fields.keyswitch) {
        EXPECT_EQ(static_cast<int>(card.at(offsetof(kvt::Image, keyswitch))), *fields.keyswitch);
    }
}

class Stress : public ::testing::TestWithParam<unsigned> {};

TEST_P(Stress, AFatalStopAmidChangesLeavesOneWholeMarkedImageAndNoDaemon)
{
    std::mt19937 rng(GetParam());
    const std::size_t before = rng() % (kMaxChangesBefore + 1);
    const std::size_t after = rng() % (kMaxChangesAfter + 1);
    const auto stop = static_cast<Stop>(rng() % 4);
    SCOPED_TRACE("changes before " + std::to_string(before) + ", after " + std::to_string(after) +
                 ", stop " + std::to_string(static_cast<int>(stop)));

    SimRoot root;
    EventManager em;
    ASSERT_TRUE(em.started());
    Daemon daemon; // ends before the event manager
    ASSERT_TRUE(wait_for_log(kRunning) && wait_for_log(kLinkUp)) << root.service_log();
    const auto captured = kvtsim::card_image();
    ASSERT_TRUE(captured.has_value());

    Fields fields;
    for (std::size_t i = 0; i < before; ++i)
        ASSERT_NO_FATAL_FAILURE(make_change(rng, fields));
    const char *line = trigger(stop);
    Fields ignored;
    for (std::size_t i = 0; i < after; ++i)
        ASSERT_NO_FATAL_FAILURE(make_change(rng, ignored));

    ASSERT_TRUE(daemon.wait_exit().has_value());
    ASSERT_TRUE(wait_no_daemon());
    EXPECT_TRUE(kvtsim::kvtd_pids().empty());
    EXPECT_EQ(kvtsim::daemon_state(), "shutdown");
    const std::string log = root.service_log();
    ASSERT_NE(log.find(kShutdown), std::string::npos) << log;
    if (line != nullptr) {
        EXPECT_LT(log.find(line), log.find(kShutdown)) << log;
    }
    EXPECT_NE(root.read("/var/log/daemon_critical.log").find(kCritical), std::string::npos);

    const auto card = kvtsim::card_image();
    ASSERT_TRUE(card.has_value());
    EXPECT_EQ((*card)[0], kvt::kInvalidatedVersion);
    expect_sections_sound(*card, *captured, stop);
    if (line != nullptr)
        expect_fields(*card, fields);
}

INSTANTIATE_TEST_SUITE_P(Seeds, Stress, ::testing::Range(1u, 21u));

} // namespace
} // namespace kvttest
