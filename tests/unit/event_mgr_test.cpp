// The simulated event manager as its clients see it: the audit records the
// SP posts, the connection-lost notice, release and faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event_mgr.h"
#include "sim/audit.hpp"
#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace
{

using Bytes = std::vector<unsigned char>;

struct Message {
    int event_class;
    int type;
    Bytes data;
};

struct Inbox {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Message> messages;

    static void callback(void *self, int event_class, int type, void *data, unsigned length, void *)
    {
        auto *inbox = static_cast<Inbox *>(self);
        const auto *bytes = static_cast<const unsigned char *>(data);
        std::lock_guard lock(inbox->mutex);
        inbox->messages.push_back(
            {event_class, type, bytes ? Bytes(bytes, bytes + length) : Bytes{}});
        inbox->arrived.notify_all();
    }

    bool wait_for(std::size_t count)
    {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(30),
                                [&] { return messages.size() >= count; });
    }
};

class EventManager : public testing::Test
{
  protected:
    void SetUp() override { ASSERT_EQ(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em"), 0); }
    void TearDown() override { kvtsim::em_stop(); }

    event_mgr_handle_t subscribe(int event_class)
    {
        event_mgr_handle_t handle = 0;
        EXPECT_EQ(event_mgr_get_handle(&handle, Inbox::callback, &inbox_), 0);
        EXPECT_EQ(event_mgr_subscribe_event_class(handle, event_class), 0);
        return handle;
    }

    kvttest::SimRoot root_;
    Inbox inbox_;
};

struct AuditCase {
    const char *name;
    std::function<void()> post;
    int type;
    Bytes golden;           // as a little-endian host posts it
    std::vector<int> words; // offsets of the 32-bit integers, in host byte order
};

Bytes in_host_order(Bytes golden, const std::vector<int> &words)
{
    if (std::endian::native == std::endian::big)
        for (const int at : words)
            std::reverse(golden.begin() + at, golden.begin() + at + 4);
    return golden;
}

const AuditCase kAuditCases[] = {
    {"Ipmi",
     [] { kvtsim::audit_post_ipmi(0x06, 0x47, "root", 0xC1); },
     1,
     {0x06, 0x47,                                                  // netfn, command
      'r',  'o',  'o', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // username[17]
      0xC1, 1,    0,   0,   0,                                     // compCode, dataLen
      0},                                                          // data
     {20}},
    {"Luapi",
     [] { kvtsim::audit_post_luapi(3, -1, "/X/a", "7"); },
     2,
     {3,   0,   0,   0,   0xFF, 0xFF, 0xFF, 0xFF, // command, status
      24,  0,   0,   0,   29,   0,    0,    0,    // pathOffset, valOffset
      0,   0,   0,   0,   0,    0,    0,    0,    // unread
      '/', 'X', '/', 'a', 0,    '7',  0},
     {0, 4, 8, 12}},
    {"Persist", [] { kvtsim::audit_post_persist(13, "2"); }, 4, {13, 0, 0, 0, 0, 0, '2', 0}, {}},
};

TEST_F(EventManager, AuditRecordsHaveTheirFixedLayouts)
{
    const event_mgr_handle_t handle = subscribe(kvtsim::kAuditClass);
    std::size_t expected = 0;
    for (const AuditCase &c : kAuditCases) {
        c.post();
        ASSERT_TRUE(inbox_.wait_for(++expected)) << c.name;
        std::lock_guard lock(inbox_.mutex);
        const Message &m = inbox_.messages.back();
        EXPECT_EQ(m.event_class, kvtsim::kAuditClass) << c.name;
        EXPECT_EQ(m.type, c.type) << c.name;
        EXPECT_EQ(m.data, in_host_order(c.golden, c.words)) << c.name;
    }
    EXPECT_EQ(event_mgr_release_handle(handle), 0);
}

TEST_F(EventManager, LostEventManagerIsReportedOnceAndReleaseIsSilent)
{
    const event_mgr_handle_t lost = subscribe(101);
    ASSERT_EQ(kvtsim::em_stop(), 0);
    ASSERT_TRUE(inbox_.wait_for(1));
    EXPECT_EQ(event_mgr_release_handle(lost), 0);
    ASSERT_EQ(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em"), 0);
    const event_mgr_handle_t released = subscribe(101);
    // Release joins the delivery thread: nothing can arrive after it.
    EXPECT_EQ(event_mgr_release_handle(released), 0);
    std::lock_guard lock(inbox_.mutex);
    ASSERT_EQ(inbox_.messages.size(), 1u);
    EXPECT_EQ(inbox_.messages[0].event_class, -1);
    EXPECT_EQ(inbox_.messages[0].type, -1);
}

TEST_F(EventManager, PostingNeedsARunningEventManager)
{
    const char text[] = "kvtd";
    EXPECT_EQ(event_mgr_post_event(100, 1, text, sizeof text), 0);
    ASSERT_EQ(kvtsim::em_stop(), 0);
    EXPECT_EQ(event_mgr_post_event(100, 1, text, sizeof text), -1);
    event_mgr_handle_t handle = 0;
    EXPECT_EQ(event_mgr_get_handle(&handle, Inbox::callback, &inbox_), -1);
}

TEST_F(EventManager, FaultsFailOneOperationEach)
{
    kvtsim::fault_set("em.get_handle", 0, 1);
    event_mgr_handle_t handle = 0;
    EXPECT_NE(event_mgr_get_handle(&handle, Inbox::callback, &inbox_), 0);
    ASSERT_EQ(event_mgr_get_handle(&handle, Inbox::callback, &inbox_), 0);

    kvtsim::fault_set("em.subscribe:101", 7, 1);
    EXPECT_EQ(event_mgr_subscribe_event_class(handle, 101), 7);
    EXPECT_EQ(event_mgr_subscribe_event_class(handle, 106), 0);
    EXPECT_EQ(event_mgr_subscribe_event_class(handle, 101), 0);

    kvtsim::fault_set("em.post:100", 0, 1);
    EXPECT_NE(event_mgr_post_event(100, 2, "x", 2), 0);
    EXPECT_EQ(event_mgr_post_event(100, 2, "x", 2), 0);
    EXPECT_EQ(event_mgr_release_handle(handle), 0);
}

} // namespace
