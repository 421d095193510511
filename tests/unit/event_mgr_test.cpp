// The audit records the simulated SP posts, byte for byte as kvtd reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/event_mgr.h"
#include "sim/control.hpp"
#include "sim/em/audit.hpp"
#include "tests/support/event_recorder.hpp"
#include "tests/support/sim_root.hpp"

namespace {

struct AuditCase {
    const char *name;
    std::function<void()> post;
    int type;
    std::vector<unsigned char> golden; // as a little-endian host posts it
    std::vector<int> words;            // offsets of the 32-bit integers, in host byte order
};

std::string in_host_order(std::vector<unsigned char> golden, const std::vector<int> &words)
{
    if (std::endian::native == std::endian::big)
        for (const int at : words)
            std::reverse(golden.begin() + at, golden.begin() + at + 4);
    return {golden.begin(), golden.end()};
}

// clang-format off
const AuditCase kAuditCases[] = {
    {"Ipmi", [] { kvtsim::audit_post_ipmi(0x06, 0x47, "root", 0xC1); }, 1,
     {0x06, 0x47,                                               // netfn, command
      'r', 'o', 'o', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // username[17]
      0xC1, 1, 0, 0, 0, 0}, {20}},                              // compCode, dataLen, data
    {"Luapi", [] { kvtsim::audit_post_luapi(3, -1, "/X/a", "7"); }, 2,
     {3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 24, 0, 0, 0, 29, 0, 0, 0, // command, status, offsets
      0, 0, 0, 0, 0, 0, 0, 0, '/', 'X', '/', 'a', 0, '7', 0}, {0, 4, 8, 12}}, // unread, texts
    {"Persist", [] { kvtsim::audit_post_persist(13, "2"); }, 4, {13, 0, 0, 0, 0, 0, '2', 0}, {}},
};
// clang-format on

TEST(EventManager, AuditRecordsHaveTheirFixedLayouts)
{
    kvttest::SimRoot root;
    const kvttest::EventManager em;
    ASSERT_TRUE(em.started());
    const kvttest::EventRecorder audit(kvtsim::kAuditClass);
    ASSERT_TRUE(audit.subscribed());
    std::size_t expected = 0;
    for (const AuditCase &c : kAuditCases) {
        c.post();
        const auto events = audit.wait_count(++expected);
        ASSERT_EQ(events.size(), expected) << c.name;
        EXPECT_EQ(events.back().event_class, kvtsim::kAuditClass) << c.name;
        EXPECT_EQ(events.back().event_type, c.type) << c.name;
        EXPECT_EQ(events.back().data, in_host_order(c.golden, c.words)) << c.name;
    }
}

// The event manager's resident size, in KiB.
long em_resident_kib()
{
    const std::string pid = kvttest::read_file(kvtsim::sim_path("em.pid"));
    const std::string status =
        kvttest::read_file("/proc/" + pid.substr(0, pid.find('\n')) + "/status");
    const auto at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}

std::atomic<bool> release_delivery{false};

// A subscriber whose delivery thread is stuck in its first event.
void never_returns(void *, int, int, void *, unsigned int, void *)
{
    while (!release_delivery)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Growth is measured after the queue has filled, so that neither the
// program's own size nor a sanitizer's differs between builds; a sanitizer
// is told to reuse freed memory at once.
TEST(EventManagerQueue, ASubscriberThatNeverReadsCostsABoundedAmountAndDropsAreSaid)
{
    kvttest::SimRoot root;
    const char *asan = std::getenv("ASAN_OPTIONS");
    ::setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":quarantine_size_mb=1").c_str(), 1);
    const kvttest::EventManager em;
    ASSERT_TRUE(em.started());
    event_mgr_handle_t handle = 0;
    ASSERT_EQ(event_mgr_get_handle(&handle, never_returns, nullptr), 0);
    ASSERT_EQ(event_mgr_subscribe_event_class(handle, 106), 0);

    const std::string mib(1u << 20, 'x');
    const auto post = [&](int count) {
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(event_mgr_post_event(106, 1, mib.data(), 1u << 20), 0);
    };
    post(10);
    const long filled = em_resident_kib();
    post(50);
    EXPECT_LT(em_resident_kib() - filled, 16 * 1024) << "50 more MiB were posted";
    // The drops are said, but only so many: the record stays small.
    const std::string said = kvttest::read_file(kvtsim::sim_path("em.stderr"));
    std::size_t lines = 0;
    for (std::size_t at = said.find("dropped event class 106 type 1 of 1048576 bytes");
         at != std::string::npos; at = said.find("dropped event class", at + 1))
        ++lines;
    EXPECT_EQ(lines, 10u) << said;
    EXPECT_NE(said.find("further drops are counted, not said"), std::string::npos) << said;
    release_delivery = true;
    event_mgr_release_handle(handle);
}

} // namespace
