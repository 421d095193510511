// The frame's event callback, called in-process as the event manager's
// delivery thread would call it; replies to the PCM are caught by a
// subscriber of the PCM's own class on the simulated event manager.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pthread.h>

#include "frame/frame.hpp"
#include "frame/pcm_link.hpp"
#include "platform/event_mgr.h"
#include "platform/logging.h"
#include "service/hooks.hpp"
#include "service/kvtd.hpp"
#include "sim/control.hpp"
#include "sim/em/audit.hpp"
#include "tests/support/event_recorder.hpp"
#include "tests/support/sim_root.hpp"

namespace {

class PcmLink : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(em_.started());
        ASSERT_TRUE(replies_.subscribed());
        processName = "kvtd";
        init_dblog(processName, nullptr);
        ASSERT_EQ(pthread_mutex_init(&stateMutex, nullptr), 0);
        currentState = 0;
        frameRunning = true;
        serverActive = true;
    }

    static void deliver(int event_type, const char *data = nullptr, unsigned int length = 0)
    {
        emEventCallback(nullptr, kPcmConsumerClass, event_type, const_cast<char *>(data), length,
                        nullptr);
    }

    kvttest::SimRoot root_;
    kvttest::EventManager em_;
    kvttest::EventRecorder replies_{kPcmProducerClass};
};

const std::string kLongBeat = std::string(63, ' ') + "7";

struct Heartbeat {
    const char *data;
    unsigned int length;
    const char *reply;
};

// An unexpected PCM message or event-manager notice only warns: the
// heartbeats' replies are all that is posted, each with the process name and
// number and its NUL, and the link stays up.
TEST_F(PcmLink, HeartbeatsAreAnsweredAndUnexpectedTypesOnlyWarn)
{
    emConnected = true;
    emEventCallback(nullptr, kEmNoticeClass, kEmConnectionLost - 1, nullptr, 0, nullptr);
    EXPECT_TRUE(emConnected);
    const Heartbeat beats[] = {
        {"4299", 2, "kvtd 42"},                 // read no further than its length
        {"99999999999999999999", 21, "kvtd 0"}, // out of range
        {nullptr, 0, "kvtd 0"},
        {kLongBeat.c_str(), 64, "kvtd 0"}, // only the first 63 characters count
    };
    deliver(7);
    for (const Heartbeat &beat : beats)
        deliver(kPcmHeartbeat, beat.data, beat.length);

    const std::vector<kvttest::Event> replies = replies_.wait_count(std::size(beats));
    ASSERT_EQ(replies.size(), std::size(beats));
    for (std::size_t i = 0; i < replies.size(); ++i) {
        EXPECT_EQ(replies[i].event_class, kPcmProducerClass);
        EXPECT_EQ(replies[i].event_type, kPcmHeartbeatReply);
        EXPECT_EQ(replies[i].data, std::string(beats[i].reply) + '\0');
    }
    EXPECT_EQ(kvttest::log_count("In trelmproc_heartbeat_ok()\n"),
              static_cast<int>(std::size(beats)));
    EXPECT_EQ(root_.read("/var/log/kvtd.frame.log"),
              "Warning, unexpected Event Mgr Message Type.\n"
              "Warning, unexpected Event Mgr Message Type.\n");
    EXPECT_TRUE(frameRunning);
    EXPECT_FALSE(kvttest::log_has("trelmproc_state_transition"));
    EXPECT_FALSE(kvttest::log_has("trelmproc_reset_defaults"));
}

TEST_F(PcmLink, AResetToDefaultsIsLoggedByTheFrameAndTheService)
{
    deliver(kPcmResetDefaults);
    EXPECT_EQ(root_.read("/var/log/kvtd.frame.log"), "received reset to defaults.\n");
    EXPECT_EQ(kvttest::log_count("In trelmproc_reset_defaults()\n"), 1);
    EXPECT_TRUE(frameRunning);
}

TEST_F(PcmLink, EveryStateChangeIsReportedEvenWhenTheStateStaysTheSame)
{
    ASSERT_EQ(kvtsim::pcm_state(5), 0);
    deliver(kPcmStateChange);
    deliver(kPcmStateChange);
    EXPECT_EQ(kvttest::log_count("old state = 0, new state = 5\n"), 1);
    EXPECT_EQ(kvttest::log_count("old state = 5, new state = 5\n"), 1);
    EXPECT_EQ(currentState, 5);
}

// The audit class is subscribed on each connection, which logs its own
// line and the registration's; only a refusal adds one of its own.
TEST_F(PcmLink, ARefusedAuditSubscriptionIsLoggedWithItsStatus)
{
    constexpr const char *kRefused = "Registering for CLASS_MGMT_AUDIT  events failed. Status = ";
    event_mgr_handle_t handle{};
    ASSERT_EQ(event_mgr_get_handle(&handle, emEventCallback, nullptr), 0);
    trelmproc_em_connected(handle);
    EXPECT_FALSE(kvttest::log_has(kRefused));
    kvtsim::fault_set("em.subscribe:" + std::to_string(kvtsim::kAuditClass), 7);
    trelmproc_em_connected(handle);
    EXPECT_EQ(kvttest::log_count(std::string(kRefused) + "7\n"), 1);
    EXPECT_EQ(kvttest::log_count("kvtd: trelmproc_em_connected()\n"), 2);
    EXPECT_EQ(kvttest::log_count("registered for events\n"), 2);
    event_mgr_release_handle(handle);
}

} // namespace
