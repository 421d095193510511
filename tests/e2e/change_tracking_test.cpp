// Change tracking and the PCM link with everything real: kvtd, the
// simulated event manager and its PCM, on an SP root of their own.
#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "card/image.hpp"
#include "sim/control.hpp"
#include "tests/support/daemon.hpp"
#include "tests/support/sim_root.hpp"

namespace
{

using kvttest::wait_until;

constexpr const char *kFrameLog = "/var/log/kvtd.frame.log";
constexpr const char *kLinkUp = "registered for events\n";
constexpr const char *kStateReport = "kvtd: trelmproc_state_transition() - old state = ";

bool pcm_received(const std::string &line)
{
    const auto log = kvtsim::pcm_log();
    return std::find(log.begin(), log.end(), line) != log.end();
}

bool wait_for_log(const std::string &text, int times = 1)
{
    return wait_until([&] { return kvttest::log_count(text) >= times; });
}

// The SMTP port starts as "none", so that setting it to 25 changes the card.
class ChangeTracking : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", "none"), 0);
        ASSERT_EQ(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em"), 0);
        daemon_.emplace();
        ASSERT_TRUE(wait_for_log(kLinkUp)) << root_.service_log();
    }

    void TearDown() override
    {
        daemon_.reset();
        kvtsim::em_stop();
    }

    kvttest::SimRoot root_;
    std::optional<kvttest::Daemon> daemon_;
};

TEST_F(ChangeTracking, ObjectSetReachesItsFieldAndChecksumOnly)
{
    const kvtsim::ImageBytes before = kvtsim::card_image().value();
    ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", "25"), 0);
    ASSERT_TRUE(wait_until([&] { return kvtsim::card_image().value() != before; }))
        << root_.service_log();

    const kvtsim::ImageBytes after = kvtsim::card_image().value();
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < after.size(); ++i)
        if (after[i] != before[i])
            changed.push_back(i);
    // mailhost_port 0 -> 25 (big-endian, high byte stays 0), and cksum7
    EXPECT_EQ(changed, (std::vector<std::size_t>{offsetof(kvt::Image, mailhost_port) + 1,
                                                 offsetof(kvt::Image, cksum7)}));
    EXPECT_EQ(after[offsetof(kvt::Image, mailhost_port) + 1], 25);
}

TEST_F(ChangeTracking, PcmHeartbeatIsAnsweredWithItsNumber)
{
    EXPECT_TRUE(pcm_received("initialize kvtd"));
    ASSERT_EQ(kvtsim::pcm_heartbeat("42"), 0);
    EXPECT_TRUE(wait_until([] { return pcm_received("heartbeat kvtd 42"); }));
}

TEST_F(ChangeTracking, PcmShutdownRequestEndsTheDaemonCleanly)
{
    ASSERT_EQ(kvtsim::pcm_shutdown(), 0);
    const std::optional<int> status = daemon_->wait_exit();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_NE(root_.read(kFrameLog).find("daemon execution complete, rc=0.\n"), std::string::npos);
}

TEST_F(ChangeTracking, RestartedEventManagerIsRejoinedAndToldTheState)
{
    ASSERT_TRUE(wait_for_log(kStateReport));
    ASSERT_EQ(kvtsim::em_stop(), 0);
    ASSERT_EQ(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em"), 0);
    ASSERT_TRUE(wait_for_log(kLinkUp, 2)) << root_.service_log();
    EXPECT_TRUE(wait_for_log(kStateReport, 2));

    ASSERT_EQ(kvtsim::pcm_state(7), 0);
    EXPECT_TRUE(wait_for_log("new state = 7\n")) << root_.service_log();
    // The audit subscription was renewed too.
    ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", "25"), 0);
    EXPECT_TRUE(wait_for_log("kvtd_process_obj_update: name /X/clients/smtp/port val: 25\n"));
}

} // namespace
