// Rounds of live changes cut short by a fatal stop at a moment drawn from a
// fixed seed: whatever was in flight, the daemon must leave the card holding
// one whole, consistent image marked invalid, and nothing of itself behind.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "card/sections.hpp"
#include "platform/card_lib.h"
#include "sections/encodings.hpp"
#include "sim/control.hpp"
#include "sim/em/audit.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/event_recorder.hpp"

namespace kvttest {
namespace {

constexpr const char *kShutdown = "===== kvtd shutting down =====\n";

// One change of the stream, drawn from `rng`; `want` takes the fields it sets.
void make_change(std::mt19937 &rng, kvt::Image &want)
{
    const std::uint32_t n = rng();
    switch (n % 5) {
    case 0:
        want.cli_timeout.set(n % 7200);
        ASSERT_EQ(kvtsim::object_set("/X/darvcli/timeout", std::to_string(n % 7200)), 0);
        return;
    case 1:
        want.mailhost_port.set(static_cast<std::uint16_t>(1 + n % 65535));
        ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", std::to_string(1 + n % 65535)), 0);
        return;
    case 2:
        want.keyswitch = static_cast<unsigned char>(n % 4);
        ASSERT_EQ(kvtsim::nv_set("keyswitch_state", std::to_string(n % 4)), 0);
        return;
    case 3:
        ASSERT_EQ(kvtsim::object_set("/X/users/operator1/password", "pw" + std::to_string(n)), 0);
        return;
    default:
        ASSERT_EQ(kvtsim::object_set("/X/system_identifier", "rack " + std::to_string(n % 100)), 0);
        return;
    }
}

struct Stop {
    void (*trigger)();
    const char *line; // logged before the stop's own; none when any section write may fail
};

constexpr std::size_t kAutorestartRefused = 2;
// clang-format off
const Stop kStops[] = {
    {[] { kvtsim::audit_post_luapi(3, 0, "/X/darvcli/timeout", "bogus"); }, "write_cli: error parsing timeout (bogus)\n"},
    {[] { kvtsim::nv_set("keyswitch_state", "9"); }, "kvtd_write_keyswitch: error parsing value (9)\n"},
    {[] { kvtsim::audit_post_luapi(3, 0, "/HOST/autorestart", "bogus"); }, "kvtd_write_autorestart: bad value bogus\n"},
    // Fires once, so the stop's own whole-image write reaches the card; the
    // write that fails may be one still in flight. ENODEV, a bus that is
    // gone: an EIO right after a page write is a part still busy, retried.
    {[] { kvtsim::fault_set("card.write", ENODEV, 1); kvtsim::object_set("/X/darvcli/prompt", "stress>"); }, nullptr},
};
// clang-format on

class Stress : public ::testing::TestWithParam<unsigned> {};

TEST_P(Stress, AFatalStopAmidChangesLeavesOneWholeMarkedImageAndNoDaemon)
{
    std::mt19937 rng(GetParam());
    const std::size_t before = rng() % 13, after = rng() % 4, stop = rng() % 4;
    SCOPED_TRACE("changes before " + std::to_string(before) + ", after " + std::to_string(after) +
                 ", stop " + std::to_string(stop));

    SimRoot root;
    EventManager em;
    ASSERT_TRUE(em.started());
    Daemon daemon; // ends before the event manager
    ASSERT_TRUE(wait_for_log(kRunning) && wait_for_log("registered for events\n"))
        << root.service_log();
    const kvtsim::ImageBytes captured = kvtsim::card_image().value();
    kvt::Image want = card_as_image();
    kvt::Image ignored = want;
    for (std::size_t i = 0; i < before; ++i)
        ASSERT_NO_FATAL_FAILURE(make_change(rng, want));
    kStops[stop].trigger();
    for (std::size_t i = 0; i < after; ++i)
        ASSERT_NO_FATAL_FAILURE(make_change(rng, ignored));

    ASSERT_TRUE(daemon.wait_exit().has_value());
    ASSERT_TRUE(wait_no_daemon());
    const std::string log = root.service_log();
    const char *line = kStops[stop].line;
    ASSERT_NE(log.find(kShutdown), std::string::npos) << log;
    if (line != nullptr) {
        EXPECT_LT(log.find(line), log.find(kShutdown)) << log;
    }

    // The stop marks the version and writes the image as it stood, without
    // new checksums: the header's still covers the version the image had,
    // and a refused autorestart value leaves the misc section's covering the
    // bits the writer cleared before it checked the value (the stream never
    // changes them; both lie in the big-endian word's first byte).
    const kvtsim::ImageBytes card = kvtsim::card_image().value();
    EXPECT_EQ(card[0], kvt::kInvalidatedVersion);
    kvtsim::ImageBytes covered = card;
    covered[0] = kvt::kImageVersion;
    static_assert((kvt::kAutorestartBits & 0xFF) == 0);
    const std::size_t high = offsetof(kvt::Image, miscbits);
    const unsigned char bits = kvt::kAutorestartBits >> 8;
    if (stop == kAutorestartRefused) {
        EXPECT_EQ(card[high] & bits, 0);
        covered[high] |= captured[high] & bits;
    }
    for (const kvt::SectionSpan &s : kvt::kSectionMap) {
        unsigned char sum = 0;
        calculate_xor_checksum(&covered.at(s.first), static_cast<int>(s.length), &sum);
        EXPECT_EQ(sum, card.at(s.cksum)) << "section at " << s.first;
    }

    // After a refused value, every change posted before it is on the card.
    const kvt::Image got = card_as_image();
    const auto fields = [](const kvt::Image &image) {
        return std::tuple(image.cli_timeout.get(), image.mailhost_port.get(), image.keyswitch);
    };
    if (line != nullptr) {
        EXPECT_EQ(fields(got), fields(want));
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Stress, ::testing::Range(1u, 21u));

} // namespace
} // namespace kvttest
