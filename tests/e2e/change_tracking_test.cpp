// Change tracking and the PCM link with everything real: kvtd, the
// simulated event manager and its PCM, on an SP root of their own.
//
// The event manager hands kvtd its messages one at a time, in the order
// they were posted, so once kvtd has answered a PCM heartbeat posted after
// a change, every audit event of that change has been folded into the card.
// Malformed audit records are the intake's unit tests' own: the intake
// runs there as it runs on the delivery thread.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/sections.hpp"
#include "sim/control.hpp"
#include "sim/em/audit.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/event_recorder.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/tool_run.hpp"

namespace kvttest {
namespace {

using kvt::Section;

constexpr const char *kFrameLog = "/var/log/kvtd.frame.log";
constexpr const char *kLinkUp = "registered for events\n";
constexpr const char *kStateReport = "kvtd: trelmproc_state_transition() - old state = ";

// The frame log's lines for a released event manager handle.
int disconnects(const SimRoot &root)
{
    return count_in(root.read(kFrameLog), "kvtd - EM Disconnected.\n");
}

bool pcm_received(const std::string &line)
{
    const auto log = kvtsim::pcm_log();
    return std::find(log.begin(), log.end(), line) != log.end();
}

// True once kvtd has answered a heartbeat posted now: everything posted
// before it has been handled. The numbers stay clear of the PCM's own count.
bool kvtd_caught_up()
{
    static unsigned long number = 900000;
    const std::string text = std::to_string(++number);
    return kvtsim::pcm_heartbeat(text) == 0 &&
           wait_until([&] { return pcm_received("heartbeat kvtd " + text); });
}

class ChangeTracking : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(em_.started());
        ASSERT_TRUE(wait_for_log(kLinkUp)) << root_.service_log();
    }

    SimRoot root_;
    EventManager em_;
    Daemon daemon_; // ends before the event manager
};

// ---- one change per writer family -------------------------------------------

// How the administrator makes the change.
enum class How {
    object,   // kvtsim::object_set(a, b)
    variable, // kvtsim::nv_set(a, b)
    ipmi,     // kvtsim ipmi-cmd a b c: the SP runs the command and announces it
    announce, // only the object service's announcement of a set of a to b, for
              // objects the simulated service does not keep
};

struct Step {
    How how;
    std::string a;
    std::string b;
    std::string c = {};
};

struct Field {
    std::size_t offset;
    std::string bytes;
};

struct Row {
    const char *name;
    std::vector<Step> steps;
    Section section; // the one section whose bytes change
    Field field;
};

using kvttest::PrintTo;

// A text as a field holds it: its characters and the terminating NUL.
std::string z(const std::string &text)
{
    return text + '\0';
}

std::string bytes(std::initializer_list<unsigned char> list)
{
    return {list.begin(), list.end()};
}

void apply(const Step &step)
{
    switch (step.how) {
    case How::object:
        ASSERT_EQ(kvtsim::object_set(step.a, step.b), 0) << step.a;
        return;
    case How::variable:
        ASSERT_EQ(kvtsim::nv_set(step.a, step.b), 0) << step.a;
        return;
    case How::ipmi:
        ASSERT_EQ(run_tool("kvtsim", "ipmi-cmd " + step.a + " " + step.b + " " + step.c).status, 0)
            << step.a;
        return;
    case How::announce:
        kvtsim::audit_post_luapi(3, 0, step.a, step.b);
        return;
    }
}

// The start captures the defaults of a fresh simulated SP: miscbits 0x0310
// (SSH, network, autorestart reset); users root, admin, operator1 in entries
// 0 to 2 (35 bytes each, password at +17); CLI modes root, admin in entries
// 0 and 1 (34 bytes each, mode at +17).
constexpr std::size_t kAdminPassword = 0x008 + 35 + 17;
constexpr std::size_t kOperatorPassword = 0x008 + 2 * 35 + 17;
constexpr std::size_t kAdminCliMode = 0x57F + 34 + 17;
constexpr const char *kNewPassword = "0123456789abcdef";
// What the card holds of it: the user manager's hashed attribute.
const std::string kOperatorHash = kvtsim::password_attribute("operator1", kNewPassword);
const std::string kAdminHash = kvtsim::password_attribute("admin", kNewPassword);

// One row per way a change reaches kvtd and per rule between writers; the
// encodings of every writer are proven by the unit tests.
// clang-format off
const Row kRows[] = {
    {"CliTimeoutBigEndian", {{How::object, "/X/darvcli/timeout", "3600"}}, Section::misc, {0x1F8, bytes({0x00, 0x00, 0x0E, 0x10})}},
    // A console object outside "/HOST/" that the object service does not keep; three characters keep two.
    {"EscapeCharacters", {{How::announce, "/SP/console/escapechars", "~~."}}, Section::console, {0x543, z("~~")}},
    {"KeyswitchVariable", {{How::variable, "keyswitch_state", "3"}}, Section::console, {0x57C, bytes({3})}},
    // While backup is off, user changes stay off the card.
    {"BackupOff", {{How::object, "/X/policy/BACKUP_USER_DATA", "disabled"}, {How::object, "/X/users/operator1/password", kNewPassword}},
     Section::misc, {0x1CC, bytes({0x0B, 0x10})}},
    // Turning it on again takes the users as they are now.
    {"BackupOffThenOn", {{How::object, "/X/policy/BACKUP_USER_DATA", "disabled"}, {How::object, "/X/users/operator1/password", kNewPassword},
                         {How::object, "/X/policy/BACKUP_USER_DATA", "enabled"}},
     Section::users, {kOperatorPassword, z(kOperatorHash)}},
    // A pending address counts only once committed.
    {"NetworkCommit", {{How::object, "/X/network/pendingipaddress", "192.168.1.77"}, {How::object, "/X/network/commitpending", "true"}},
     Section::network, {0x190, bytes({192, 168, 1, 77})}},
    {"UserObject", {{How::object, "/X/users/operator1/password", kNewPassword}}, Section::users, {kOperatorPassword, z(kOperatorHash)}},
    {"UserCliModeObject", {{How::object, "/X/users/admin/cli_mode", "default"}}, Section::climodes, {kAdminCliMode, z("default")}},
    // IPMI user 2 is admin.
    {"IpmiSetUserPassword", {{How::ipmi, "user-password", "2", kNewPassword}}, Section::users, {kAdminPassword, z(kAdminHash)}},
};
// clang-format on

class ChangeReachesTheCard : public ChangeTracking, public testing::WithParamInterface<Row> {};

TEST_P(ChangeReachesTheCard, InItsFieldAndSectionOnlyWithEveryChecksumSound)
{
    const Row &row = GetParam();
    ASSERT_TRUE(kvtd_caught_up());
    const kvtsim::ImageBytes before = kvtsim::card_image().value();
    for (const Step &step : row.steps)
        ASSERT_NO_FATAL_FAILURE(apply(step));
    ASSERT_TRUE(kvtd_caught_up()) << root_.service_log();
    const kvtsim::ImageBytes after = kvtsim::card_image().value();

    const Field &field = row.field;
    const auto slice = [&](const kvtsim::ImageBytes &image) {
        return std::string(image.begin() + field.offset,
                           image.begin() + field.offset + field.bytes.size());
    };
    EXPECT_NE(slice(before), field.bytes) << "the row changes nothing";
    EXPECT_EQ(slice(after), field.bytes) << root_.service_log();

    std::vector<std::size_t> stray;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const bool in_field = i >= field.offset && i < field.offset + field.bytes.size();
        if (after[i] != before[i] && !in_field && i != kvt::span_of(row.section).cksum)
            stray.push_back(i);
    }
    EXPECT_EQ(stray, std::vector<std::size_t>{}) << "bytes changed outside the field";
    expect_card_is_this_sps();
}

INSTANTIATE_TEST_SUITE_P(Writers, ChangeReachesTheCard, testing::ValuesIn(kRows), by_name);

// ---- the PCM link -------------------------------------------------------------

TEST_F(ChangeTracking, PcmShutdownRequestEndsTheDaemonCleanly)
{
    ASSERT_EQ(kvtsim::pcm_shutdown(), 0);
    EXPECT_EQ(exit_code(daemon_.wait_exit()), 0);
    EXPECT_NE(root_.read(kFrameLog).find("daemon execution complete, rc=0.\n"), std::string::npos);
    EXPECT_EQ(disconnects(root_), 1) << "the handle is released once";
}

TEST_F(ChangeTracking, RestartedEventManagerIsRejoinedAndToldTheState)
{
    EXPECT_TRUE(pcm_received("initialize kvtd"));
    ASSERT_TRUE(wait_for_log(kStateReport));
    ASSERT_EQ(kvtsim::em_stop(), 0);
    EXPECT_TRUE(wait_until([&] { return disconnects(root_) >= 1; }));
    // The link subscribed once, so it has its 20 retries of the PCM class
    // afresh: as many refusals in a row do not halt it.
    kvtsim::fault_set("em.subscribe:101", 1, 20);
    ASSERT_EQ(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em"), 0);
    ASSERT_TRUE(wait_for_log(kLinkUp, 2)) << root_.service_log();
    EXPECT_TRUE(kvtsim::faults_active().empty()) << "the refusals were not all used";
    EXPECT_TRUE(wait_for_log(kStateReport, 2));

    ASSERT_EQ(kvtsim::pcm_state(7), 0);
    EXPECT_TRUE(wait_for_log("new state = 7\n")) << root_.service_log();
    // The audit subscription was renewed too.
    ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", "2525"), 0);
    EXPECT_TRUE(wait_for_log("kvtd_process_obj_update: name /X/clients/smtp/port val: 2525\n"));
}

// From the start the link has 20 retries of a refused PCM subscription;
// the 21st refusal in a row halts the daemon, its handle released.
TEST(PcmSubscription, TwentyRefusalsAreRetriedAndOneMoreHaltsTheDaemon)
{
    for (const int refusals : {20, 21}) {
        SimRoot root;
        kvtsim::fault_set("em.subscribe:101", 1, refusals);
        EventManager em;
        ASSERT_TRUE(em.started());
        Daemon daemon;
        if (refusals == 20) {
            EXPECT_TRUE(wait_for_log(kLinkUp)) << root.service_log();
            continue;
        }
        EXPECT_EQ(exit_code(daemon.wait_exit()), 0);
        EXPECT_FALSE(log_has(kLinkUp)) << root.service_log();
        EXPECT_EQ(disconnects(root), refusals)
            << "each handle the refused subscriptions were asked on is released";
    }
}

} // namespace
} // namespace kvttest
