// The frame's event callback, called in-process as the event manager's
// delivery thread would call it; replies to the PCM are caught by a
// subscriber of the PCM's own class on the simulated event manager.
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pthread.h>

#include "frame/frame.hpp"
#include "frame/pcm_link.hpp"
#include "platform/event_mgr.h"
#include "platform/logging.h"
#include "service/kvtd.hpp"
#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvttest::SimRoot;

struct Posted {
    int event_class;
    int event_type;
    std::string data; // all `length` bytes
};

std::mutex posted_mutex;
std::vector<Posted> posted;

extern "C" void record(void *, int event_class, int event_type, void *data, unsigned int length,
                       void *)
{
    const std::lock_guard<std::mutex> guard(posted_mutex);
    posted.push_back({event_class, event_type, std::string(static_cast<char *>(data), length)});
}

std::vector<Posted> posted_so_far()
{
    const std::lock_guard<std::mutex> guard(posted_mutex);
    return posted;
}

class PcmLink : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em"), 0);
        ASSERT_EQ(event_mgr_get_handle(&recorder_, record, nullptr), 0);
        ASSERT_EQ(event_mgr_subscribe_event_class(recorder_, kPcmProducerClass), 0);
        posted.clear();
        processName = "kvtd";
        init_dblog(processName, nullptr);
        ASSERT_EQ(pthread_mutex_init(&stateMutex, nullptr), 0);
        currentState = 0;
        frameRunning = true;
        serverActive = true;
    }

    void TearDown() override
    {
        event_mgr_release_handle(recorder_);
        kvtsim::em_stop();
    }

    static void deliver(int event_class, int event_type, const char *data = nullptr,
                        unsigned int length = 0)
    {
        emEventCallback(nullptr, event_class, event_type, const_cast<char *>(data), length,
                        nullptr);
    }

    std::string frame_log() const { return root_.read("/var/log/kvtd.frame.log"); }

    // Replies come back in the order they were posted; the first `count`.
    static std::vector<Posted> wait_posted(std::size_t count)
    {
        kvttest::wait_until([&] { return posted_so_far().size() >= count; });
        return posted_so_far();
    }

    SimRoot root_;
    event_mgr_handle_t recorder_ = 0;
};

struct HeartbeatCase {
    const char *data;
    unsigned int length;
    const char *reply;
};

class Heartbeat : public PcmLink, public testing::WithParamInterface<HeartbeatCase> {};

TEST_P(Heartbeat, IsAnsweredWithProcessNameAndNumberIncludingItsNul)
{
    const HeartbeatCase &c = GetParam();
    deliver(kPcmConsumerClass, kPcmHeartbeat, c.data, c.length);

    const std::vector<Posted> replies = wait_posted(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].event_class, kPcmProducerClass);
    EXPECT_EQ(replies[0].event_type, kPcmHeartbeatReply);
    EXPECT_EQ(replies[0].data, std::string(c.reply) + '\0');
    EXPECT_TRUE(kvttest::log_has("In trelmproc_heartbeat_ok()\n"));
}

INSTANTIATE_TEST_SUITE_P(
    PcmLink, Heartbeat,
    testing::Values(HeartbeatCase{"42", 3, "kvtd 42"},        // length 8 with the NUL
                    HeartbeatCase{"4299", 2, "kvtd 42"},      // read no further than its length
                    HeartbeatCase{"17 beats", 9, "kvtd 17"},  // leading digits count
                    HeartbeatCase{"beat", 5, "kvtd 0"},       // not a number
                    HeartbeatCase{"99999999999999999999", 21, "kvtd 0"}, // out of range
                    HeartbeatCase{nullptr, 0, "kvtd 0"}));

TEST_F(PcmLink, UnexpectedPcmTypeOnlyWarns)
{
    deliver(kPcmConsumerClass, 7);
    deliver(kPcmConsumerClass, kPcmHeartbeat, "1", 2);

    // The heartbeat's reply is the only thing posted.
    const std::vector<Posted> replies = wait_posted(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].data, std::string("kvtd 1") + '\0');
    EXPECT_EQ(frame_log(), "Warning, unexpected Event Mgr Message Type.\n");
    EXPECT_TRUE(frameRunning);
    EXPECT_FALSE(kvttest::log_has("trelmproc_state_transition"));
    EXPECT_FALSE(kvttest::log_has("trelmproc_reset_defaults"));
}

TEST_F(PcmLink, EveryStateChangeIsReportedEvenWhenTheStateStaysTheSame)
{
    ASSERT_EQ(kvtsim::pcm_state(5), 0);
    deliver(kPcmConsumerClass, kPcmStateChange);
    deliver(kPcmConsumerClass, kPcmStateChange);
    EXPECT_EQ(kvttest::log_count("old state = 0, new state = 5\n"), 1);
    EXPECT_EQ(kvttest::log_count("old state = 5, new state = 5\n"), 1);
    EXPECT_EQ(currentState, 5);
}

} // namespace
