// Every way kvtd meets an unrecoverable error, driven once end to end: each
// row sets the simulated SP up so that one path meets its error. Every path
// must end in the same fatal stop, straight after the lines of its error (a
// path that went on until a later error stopped it would log more), and
// the next start must capture afresh.
#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "card/image.hpp"
#include "sim/em/audit.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/event_recorder.hpp"
#include "tests/support/rows.hpp"

namespace kvttest {
namespace {

namespace fs = std::filesystem;

constexpr const char *kShutdown = "===== kvtd shutting down =====\n";
constexpr const char *kCritical = "SERVER SHUTDOWN INITIATED:kvtd shutting down.";
constexpr const char *kHaltRequested = "process requests halt, PID=";
constexpr const char *kLinkUp = "registered for events\n";
constexpr const char *kKvtData = "/var/tmp/KVT-data";
constexpr const char *kCliModes = "/etc/cli_mode.conf";
constexpr long kErrorValue = 5; // errno EIO, or luapi_errno 5

// capture: a blank card, so the start captures. restore: a card this SP
// captured, marked moved, so the start restores it. running: kvtd is up
// with its event manager and a change meets the error.
enum class Stage { capture, restore, running };

enum class Change { none, set, post, nv, pull };

// set: the object service stores the value and announces it. post: only the
// announcement, of a value the service would never have stored.
struct Trigger {
    Change kind = Change::none;
    const char *path = "";
    const char *value = "";
};

struct FatalPath {
    const char *name;
    Stage stage;
    std::string fault; // kvtsim fault name; the card's fire once, the others until cleared
    void (*setup)();   // restore: after the card is captured; running: once kvtd runs
    Trigger trigger;
    const char *line;
    // What the path logs between its line and the fatal stop; null where
    // another thread's lines fall between.
    const char *then = "";
};

// The lines of the service log after the one holding `first` and before
// the one ending in `last`, without their time stamps.
std::string lines_between(const std::string &log, const std::string &first, const std::string &last)
{
    constexpr std::size_t kStamp = 20; // "YYYY-MM-DD HH:MM:SS "
    if (first == last)
        return "";
    std::string between;
    std::istringstream lines(log);
    bool after_first = false;
    for (std::string line; std::getline(lines, line);) {
        line += '\n';
        if (after_first && line.ends_with(last))
            return between;
        if (after_first)
            between += line.substr(std::min(kStamp, line.size()));
        after_first = after_first || line.find(first) != std::string::npos;
    }
    return "(no such lines)";
}

using kvttest::PrintTo;

// clang-format off
const auto no_kvt_data = +[] { fs::remove(kvtsim::path_in_root(kKvtData)); };
const auto no_cli_mode_file = +[] { fs::remove(kvtsim::path_in_root(kCliModes)); };
const auto cli_mode_line_without_colon = +[] { kvtsim::write_cli_mode_file("nocolon\n"); };
const auto card_ipv6 = +[] { patch_card(offsetof(kvt::Image, netflags), 0xC0); }; // static, IPv6
// clang-format on
constexpr Stage kCapture = Stage::capture;
constexpr Stage kRestore = Stage::restore;
constexpr Stage kLive = Stage::running;
constexpr Change kSet = Change::set;
constexpr Change kPost = Change::post;

// Not reachable through the simulated SP as built, so not in the table:
// - "base MAC address has bogus value", "sp MAC address has bogus value":
//   "%02x" reads at most two hex digits, never more than 0xFF.
// - "internal error image just made is invalid!": the capture sets the
//   version and every checksum, which is all the card library checks.
// - "error converting ipaddress/gateway/netmask" (dump) and the restore's
//   address conversions: four bytes always convert to dotted text.
// - "kvtd: failed to write climode ret=%d": the lines are buffered and
//   fprintf does not fail on the small restore file.
// Paths whose line is the same as a row's (the session lines from the
// monitor's network disable or the live network update) are not repeated.
// clang-format off
const FatalPath kPaths[] = {
    // ---- start-up: card, KVT-data, sessions ----
    {"CardRead", kCapture, "card.read", nullptr, {}, "error from initial read of KVT - kvtd aborting!\n"},
    {"KvtDataMissing", kCapture, "", no_kvt_data, {}, "config variable database open failed!\n"},
    {"KvtDataNoBaseMac", kCapture, "", [] { kvtsim::write_kvt_data("no address here\n"); }, {}, "error reading base MAC address\n"},
    {"KvtDataNoSpMac", kCapture, "", [] { kvtsim::write_kvt_data("00:14:4f:00:00:00\n"); }, {}, "error reading sp MAC address\n"},
    {"SessionOpen", kCapture, "luapi.open", nullptr, {}, "luapife_open failed, luapi_errno is 5\n"},
    {"SessionCreate", kCapture, "luapi.session_create", nullptr, {}, "luapife_session_create failed luapi_errno is 5\n", "luapi_errno is 5\nshutting down\n"},
    {"SessionCreateAndClose", kCapture, "luapi.session_create", [] { kvtsim::fault_set("luapi.close", kErrorValue); }, {}, "luapife_close after failed luapife_session_create failed luapi_errno is 5\n", "luapi_errno is 5\nshutting down\n"},
    {"SessionDestroy", kCapture, "luapi.session_destroy", nullptr, {}, "luapi_session_destroy failed luapi_errno is 5\n"},
    {"SessionClose", kCapture, "luapi.close", nullptr, {}, "luapife_close failed luapi_errno is 5\n"},
    // ---- capture, section by section, and its write ----
    {"CaptureBackupPolicy", kCapture, "luapi.get_garbled:/X/policy/BACKUP_USER_DATA", nullptr, {}, "/X/policy/BACKUP_USER_DATA bad value (garbled)\n"},
    {"CaptureCliModeFileMissing", kCapture, "", no_cli_mode_file, {}, "kvtd_snapshot_climode: failed to open cli_mode file /etc/cli_mode.conf\n"},
    {"CaptureCliModeLine", kCapture, "", cli_mode_line_without_colon, {}, "parse error! ret = 1\n"},
    {"CaptureDiscovery", kCapture, "luapi.test_get:/X/network/ipdiscovery", nullptr, {}, "Get /X/network/ipdiscovery FAILED, shutting down ret=-1\n"},
    {"CaptureAddress", kCapture, "luapi.test_get:/X/network/ipaddress", nullptr, {}, "could not get IP address from system\n"},
    {"CaptureNetmask", kCapture, "luapi.test_get:/X/network/ipnetmask", nullptr, {}, "could not get IP netmask from system\n"},
    {"CaptureGateway", kCapture, "luapi.test_get:/X/network/ipgateway", nullptr, {}, "could not get IP gateway from system\n"},
    {"CaptureAddressBad", kCapture, "luapi.get_garbled:/X/network/ipaddress", nullptr, {}, "error converting ip address\n"},
    {"CaptureNetmaskBad", kCapture, "luapi.get_garbled:/X/network/ipnetmask", nullptr, {}, "error converting netmask\n"},
    {"CaptureGatewayBad", kCapture, "luapi.get_garbled:/X/network/ipgateway", nullptr, {}, "error converting gateway address\n"},
    {"CaptureMiscRead", kCapture, "luapi.test_get:/X/darvcli/prompt", nullptr, {}, "luapife_test_get_obj_val /X/darvcli/prompt failed luapi_errno: 5\n"},
    {"CaptureDiagModeVariable", kCapture, "nv.get:sp_post_diag_mode", nullptr, {}, kShutdown}, // no line of its own
    {"CaptureDiagMode", kCapture, "", [] { kvtsim::nv_set("sp_post_diag_mode", "bogus"); }, {}, "/HOST/diag/mode bad value (bogus)\n"},
    {"CaptureVerbosity", kCapture, "capi.verbosity_name:normal", nullptr, {}, "/HOST/diag/error_reset_verbosity bad value (normal)\n"},
    {"CaptureLevel", kCapture, "capi.level_name:max", nullptr, {}, "/HOST/diag/error_reset_level bad value (max)\n"},
    {"CaptureAutorunonerror", kCapture, "luapi.get_garbled:/HOST/autorunonerror", nullptr, {}, "/HOST/autorunonerror bad value (garbled)\n"},
    {"CaptureNetworkState", kCapture, "luapi.get_garbled:/X/network/state", nullptr, {}, "/X/network/state: error parsing value (garbled)\n"},
    {"CaptureAutorestart", kCapture, "luapi.get_garbled:/HOST/autorestart", nullptr, {}, "/HOST/autorestart bad value (garbled)\n"},
    {"CaptureEventLevel", kCapture, "luapi.get_garbled:/X/darvcli/event_level", nullptr, {}, "/X/darvcli/event_level: bad value (garbled)\n"},
    {"CaptureServiceMode", kCapture, "luapi.get_garbled:/X/darvcli/service_mode", nullptr, {}, "/X/darvcli/service_mode bad value (garbled)\n"},
    {"CapturePasswdEcho", kCapture, "luapi.get_garbled:/X/darvcli/passwd_echo", nullptr, {}, "/X/darvcli/passwd_echo bad value (garbled)\n"},
    {"CaptureSsqaMode", kCapture, "luapi.get_garbled:/X/darvcli/ssqa_mode", nullptr, {}, "/X/darvcli/ssqa_mode bad value (garbled)\n"},
    {"CaptureTimeout", kCapture, "luapi.get_garbled:/X/darvcli/timeout", nullptr, {}, "/X/darvcli/timeout: bad value (garbled)\n"},
    {"CaptureAlertLevel", kCapture, "luapi.get_garbled:/X/alertmgmt/rules/4/level", nullptr, {}, "/X/alertmgmt/rules/4/level bad value (garbled)\n"},
    {"CaptureAlertType", kCapture, "luapi.get_garbled:/X/alertmgmt/rules/4/type", nullptr, {}, "/X/alertmgmt/rules/4/type bad value (garbled)\n"},
    {"CaptureSsh", kCapture, "luapi.get_garbled:/X/services/ssh/state", nullptr, {}, "/X/services/ssh/state bad value (garbled)\n"},
    {"CapturePowerStateMemory", kCapture, "luapi.get_garbled:/X/policy/HOST_LAST_POWER_STATE", nullptr, {}, "/X/policy/HOST_LAST_POWER_STATE bad value (garbled)\n"},
    {"CapturePowerOnDelay", kCapture, "luapi.get_garbled:/X/policy/HOST_POWER_ON_DELAY", nullptr, {}, "/X/policy/HOST_POWER_ON_DELAY bad value (garbled)\n"},
    {"CaptureSmtpPort", kCapture, "luapi.get_garbled:/X/clients/smtp/port", nullptr, {}, "/X/clients/smtp/port: bad value (garbled)\n"},
    {"CaptureSmtpState", kCapture, "luapi.get_garbled:/X/clients/smtp/state", nullptr, {}, "/X/clients/smtp/state bad value (garbled)\n"},
    {"CaptureKeyswitch", kCapture, "capi.get_keyswitch", nullptr, {}, "capi_get_keyswitch failed\n"},
    {"CaptureWrite", kCapture, "card.write", nullptr, {}, "write of KVT chip failed!\n", "\terror: Input/output error\n"},
    // ---- restore, section by section, and its write ----
    {"RestoreUserIds", kRestore, "um.no_free_uid", nullptr, {}, "kvtd: restore ran out of user id's!?!\n"},
    {"RestoreCliModeFile", kRestore, "file.open:/etc/cli_mode.conf.new", nullptr, {}, "restore_climode: failed to open cli_mode file /etc/cli_mode.conf\n"},
    {"RestoreCliModeFileClose", kRestore, "file.close", nullptr, {}, "kvtd: failed to write climode ret=-1\n"},
    {"RestoreIpv6", kRestore, "", card_ipv6, {}, "IPv6 not supported yet!\n"},
    {"RestorePendingDiscovery", kRestore, "luapi.set:/X/network/pendingipdiscovery", nullptr, {}, "error setting pendingipdiscovery\n"},
    {"RestorePendingAddress", kRestore, "luapi.set:/X/network/pendingipaddress", nullptr, {}, "error setting pendingipaddress\n"},
    {"RestorePendingGateway", kRestore, "luapi.set:/X/network/pendingipgateway", nullptr, {}, "error setting pendingipgateway\n"},
    {"RestorePendingNetmask", kRestore, "luapi.set:/X/network/pendingipnetmask", nullptr, {}, "error setting pendingnetmask\n"},
    {"RestoreDhcpDiscovery", kRestore, "luapi.test_get:/X/network/ipdiscovery", [] { patch_card(offsetof(kvt::Image, netflags), 0x00); }, {}, "get_obj_val FAILED, shutting down\n"},
    {"RestoreCommit", kRestore, "luapi.set:/X/network/commitpending", nullptr, {}, "error setting commitpending\n"},
    {"RestoreMiscSet", kRestore, "luapi.set:/X/darvcli/prompt", nullptr, {}, "\tpath /X/darvcli/prompt val sp-sim>\n", "set_obj_val failed, luapi_errno is  5 errno is 2\n"},
    {"RestoreSshTestSet", kRestore, "luapi.test_set:/X/services/ssh/state", nullptr, {}, "test set of /X/services/ssh/state  to enabled failed 5\n", "set_obj_val failed, luapi_errno is  5 errno is 17\n"},
    {"RestoreVerbosityCode", kRestore, "", [] { patch_card(offsetof(kvt::Image, diag_verbosity_error), 0x7E); }, {}, kShutdown}, // no line of its own
    {"RestoreKeyswitch", kRestore, "capi.set_keyswitch", nullptr, {}, "set of keyswitch via CAPI failed\n"},
    // Another SP's card: the write-back has the header to program.
    {"RestoreWrite", kRestore, "card.write", [] { kvtsim::card_insert_image(kvtsim::foreign_image(kOtherSpMac)); }, {}, "write of KVT chip failed!\n", "\terror: Input/output error\n"},
    // ---- card monitor ----
    {"CardNotReplaced", kLive, "", nullptr, {Change::pull}, "i2c_writeread failed", nullptr},
    {"KvtDataGoneWhileRunning", kLive, "", no_kvt_data, {}, "config variable database open failed!\n"},
    // ---- delivery thread: writers' bad values ----
    {"WriteDiagMode", kLive, "", nullptr, {kPost, "/HOST/diag/mode", "bogus"}, "write_diag MODE: bad value bogus\n"},
    {"WriteVerbosityError", kLive, "", nullptr, {kPost, "/HOST/diag/error_reset_verbosity", "bogus"}, "write_diag DIAG_VERBOSITY_ERROR: bad value bogus\n"},
    {"WriteVerbosityPower", kLive, "", nullptr, {kPost, "/HOST/diag/power_on_verbosity", "bogus"}, "write_diag DIAG_VERBOSITY_POWER: bad value bogus\n"},
    {"WriteVerbosityUser", kLive, "", nullptr, {kPost, "/HOST/diag/user_reset_verbosity", "bogus"}, "write_diag DIAG_VERBOSITY_USER: bad value bogus\n"},
    {"WriteLevelError", kLive, "", nullptr, {kPost, "/HOST/diag/error_reset_level", "bogus"}, "write_diag DIAG_LEVEL_ERROR: bad value bogus\n"},
    {"WriteLevelPower", kLive, "", nullptr, {kPost, "/HOST/diag/power_on_level", "bogus"}, "write_diag DIAG_LEVEL_POWER: bad value bogus\n"},
    {"WriteLevelUser", kLive, "", nullptr, {kPost, "/HOST/diag/user_reset_level", "bogus"}, "write_diag DIAG_LEVEL_USER: bad value bogus\n"},
    {"WriteAutorunonerror", kLive, "", nullptr, {kPost, "/HOST/autorunonerror", "bogus"}, "kvtd_write_autorunonerror: bad value bogus\n"},
    {"WriteAutorestart", kLive, "", nullptr, {kPost, "/HOST/autorestart", "bogus"}, "kvtd_write_autorestart: bad value bogus\n"},
    {"WriteEventLevel", kLive, "", nullptr, {kPost, "/X/darvcli/event_level", "256"}, "write_cli: error parsing event level (256)\n"},
    {"WriteServiceMode", kLive, "", nullptr, {kPost, "/X/darvcli/service_mode", "bogus"}, "write_cli: error parsing service_mode (bogus)\n"},
    {"WritePasswdEcho", kLive, "", nullptr, {kPost, "/X/darvcli/passwd_echo", "bogus"}, "write_cli: error parsing passwd_echo (bogus)\n"},
    {"WriteSsqaMode", kLive, "", nullptr, {kPost, "/X/darvcli/ssqa_mode", "bogus"}, "write_cli: error parsing ssqa_mode (bogus)\n"},
    {"WriteTimeout", kLive, "", nullptr, {kPost, "/X/darvcli/timeout", "bogus"}, "write_cli: error parsing timeout (bogus)\n"},
    {"WriteSsh", kLive, "", nullptr, {kPost, "/X/services/ssh/state", "bogus"}, "write_ssh_state: error parsing value (bogus)\n"},
    {"WritePowerStateMemory", kLive, "", nullptr, {kPost, "/X/policy/HOST_LAST_POWER_STATE", "bogus"}, "write_powerstatememory: error parsing value (bogus)\n"},
    {"WritePowerOnDelay", kLive, "", nullptr, {kPost, "/X/policy/HOST_POWER_ON_DELAY", "bogus"}, "write_powerondelay: error parsing value (bogus)\n"},
    {"WriteBackupUserData", kLive, "", nullptr, {kPost, "/X/policy/BACKUP_USER_DATA", "bogus"}, "write_backupuserdata: error parsing value (bogus)\n"},
    {"WriteNetworkState", kLive, "", nullptr, {kPost, "/X/network/state", "bogus"}, "write_networkstate: error parsing value (bogus)\n"},
    {"WriteSmtpState", kLive, "", nullptr, {kPost, "/X/clients/smtp/state", "bogus"}, "write_mailhost: error parsing state (bogus)\n"},
    {"WriteSmtpPort", kLive, "", nullptr, {kPost, "/X/clients/smtp/port", "bogus"}, "write_mailhost: error parsing port\n"},
    {"WriteAlertLevel", kLive, "", nullptr, {kPost, "/X/alertmgmt/rules/3/level", "bogus"}, "write_mailalert: error parsing level (bogus)\n"},
    {"WriteAlertType", kLive, "", nullptr, {kPost, "/X/alertmgmt/rules/3/type", "bogus"}, "kvtd_write_emailalert: error parsing type(bogus)\n"},
    {"WriteKeyswitch", kLive, "", nullptr, {Change::nv, "keyswitch_state", "9"}, "kvtd_write_keyswitch: error parsing value (9)\n"},
    // ---- delivery thread: writers' card writes ----
    {"WriteDiagCard", kLive, "card.write", nullptr, {kSet, "/HOST/diag/mode", "service"}, "write_diag: write_KVT failed!\n"},
    {"WriteCliCard", kLive, "card.write", nullptr, {kSet, "/X/darvcli/prompt", "sp>"}, "write_cli: write_KVT failed!\n"},
    {"WritePowerStateMemoryCard", kLive, "card.write", nullptr, {kSet, "/X/policy/HOST_LAST_POWER_STATE", "enabled"}, "write_powerstatememory: write_KVT failed!\n"},
    {"WritePowerOnDelayCard", kLive, "card.write", nullptr, {kSet, "/X/policy/HOST_POWER_ON_DELAY", "enabled"}, "write_powerondelay: write_KVT failed!\n"},
    {"WriteBackupUserDataCard", kLive, "card.write", nullptr, {kSet, "/X/policy/BACKUP_USER_DATA", "disabled"}, "write_backupuserdata: write_KVT failed!\n"},
    {"WriteNetworkStateCard", kLive, "card.write", nullptr, {kSet, "/X/network/state", "disabled"}, "write_networkstate: write_KVT failed!\n"},
    {"WriteMailhostCard", kLive, "card.write", nullptr, {kSet, "/X/clients/smtp/port", "2525"}, "write_mailhost: write_KVT failed!\n"},
    {"WriteMailhostAddressCard", kLive, "card.write", nullptr, {kSet, "/X/clients/smtp/address", "10.0.0.25"}, "write_mailhost: write_KVT failed!\n"},
    {"WriteSmtpStateCard", kLive, "card.write", nullptr, {kSet, "/X/clients/smtp/state", "enabled"}, "write_mailhost: write_KVT failed!\n"},
    {"WriteAutorunonerrorCard", kLive, "card.write", nullptr, {kSet, "/HOST/autorunonerror", "true"}, "write_diag: write_KVT failed!\n"},
    {"WriteAutorestartCard", kLive, "card.write", nullptr, {kSet, "/HOST/autorestart", "dumpcore"}, "write_diag: write_KVT failed!\n"},
    {"WriteSshStateCard", kLive, "card.write", nullptr, {kSet, "/X/services/ssh/state", "disabled"}, "write_cli: write_KVT failed!\n"},
    {"WriteAlertCard", kLive, "card.write", nullptr, {kSet, "/X/alertmgmt/rules/2/destination", "ops@example.com"}, "write_emailalert: write_KVT failed!\n"},
    // The host group takes "/HOST/console/escapechars"; the SP's console object reaches the writer.
    {"WriteEscapecharsCard", kLive, "card.write", nullptr, {kPost, "/SP/console/escapechars", "~."}, "write_escapechars: write_KVT failed!\n"},
    {"WriteCustomerinfoCard", kLive, "card.write", nullptr, {kSet, "/X/system_identifier", "rack 9"}, "write_customerinfo: write_KVT failed!\n"},
    {"WriteKeyswitchCard", kLive, "card.write", nullptr, {Change::nv, "keyswitch_state", "2"}, "write_keyswitch: write_KVT failed!\n"},
    // ---- delivery thread: network live update, snapshots ----
    {"LiveDiscovery", kLive, "luapi.test_get:/X/network/ipdiscovery", nullptr, {kSet, "/X/network/commitpending", "true"}, "could not get DHCP setting from system\n"},
    {"LiveDiscoveryBad", kLive, "luapi.get_garbled:/X/network/ipdiscovery", nullptr, {kSet, "/X/network/commitpending", "true"}, "not DHCP or STATIC ?!?!\n"},
    {"LiveAddress", kLive, "luapi.test_get:/X/network/ipaddress", nullptr, {kSet, "/X/network/commitpending", "true"}, "could not get IP address from system\n"},
    {"LiveAddressBad", kLive, "luapi.get_garbled:/X/network/ipaddress", nullptr, {kSet, "/X/network/commitpending", "true"}, "error converting ip address\n"},
    // A new address, so that the network section has bytes to program.
    {"LiveNetworkCard", kLive, "card.write", [] { kvtsim::object_set("/X/network/pendingipaddress", "192.168.1.77"); }, {kSet, "/X/network/commitpending", "true"}, "write to KVT after putting in net info failed\n"},
    {"SnapshotCard", kLive, "card.write", nullptr, {kSet, "/X/users/operator1/role", "admin"}, "Error writing out KVT user_table!\n"},
    // Privilege 3 either way: the user table programs nothing, so the role table meets the fault.
    {"SnapshotRoleCard", kLive, "card.write", nullptr, {kSet, "/X/users/operator1/role", "operator,console"}, "Error writing out KVT role_table!\n"},
    {"CliModeSnapshotFileMissing", kLive, "", no_cli_mode_file, {kPost, "/X/users/admin/cli_mode", "compact"}, "kvtd_snapshot_cli_mode: failed to open cli_mode file /etc/cli_mode.conf\n"},
    {"CliModeSnapshotLine", kLive, "", cli_mode_line_without_colon, {kPost, "/X/users/admin/cli_mode", "compact"}, "parse error! ret = 1\n"},
    {"CliModeSnapshotCard", kLive, "card.write", nullptr, {kSet, "/X/users/admin/cli_mode", "default"}, "Error writing out KVT data!\n"},
};
// clang-format on

void make_change(const Trigger &t)
{
    if (t.kind == Change::set || t.kind == Change::nv) {
        ASSERT_EQ(t.kind == Change::set ? kvtsim::object_set(t.path, t.value)
                                        : kvtsim::nv_set(t.path, t.value),
                  0)
            << t.path;
    }
    if (t.kind == Change::post)
        kvtsim::audit_post_luapi(3, 0, t.path, t.value); // a successful set
    if (t.kind == Change::pull) {
        ASSERT_EQ(kvtsim::card_pull(), 0);
    }
}

// kvtd running with its event manager, after start-up.
void start_live(std::optional<EventManager> &em, std::optional<Daemon> &daemon)
{
    em.emplace();
    ASSERT_TRUE(em->started());
    daemon.emplace();
    ASSERT_TRUE(wait_for_log(kRunning) && wait_for_log(kLinkUp));
}

class FatalStop : public ::testing::TestWithParam<FatalPath> {
  protected:
    void start_into(const FatalPath &row)
    {
        if (row.stage == Stage::running) {
            ASSERT_NO_FATAL_FAILURE(start_live(em, daemon));
        }
        if (row.stage == Stage::restore) {
            ASSERT_NO_FATAL_FAILURE(capture_a_card());
            kvtsim::set_moved(true);
        }
        if (row.setup)
            row.setup();
        // A card fault fires once, so that the fatal stop's own whole-image
        // write still reaches the card.
        if (!row.fault.empty())
            kvtsim::fault_set(row.fault, kErrorValue, row.fault.starts_with("card.") ? 1 : -1);
        if (row.stage != Stage::running)
            daemon.emplace();
        make_change(row.trigger);
    }

    void expect_fatal_stop(const FatalPath &row)
    {
        ASSERT_TRUE(daemon->wait_exit().has_value());
        ASSERT_TRUE(wait_no_daemon());
        const std::string log = root.service_log();
        ASSERT_NE(log.find(kShutdown), std::string::npos) << log;
        if (row.then) {
            EXPECT_EQ(lines_between(log, row.line, kShutdown), row.then) << log;
        }
        EXPECT_NE(root.read("/var/log/daemon_critical.log").find(kCritical), std::string::npos);
        EXPECT_NE(root.read("/var/log/kvtd.frame.log").find(kHaltRequested), std::string::npos);
        if (kvtsim::card_present()) { // a card out of the slot can't be marked
            EXPECT_EQ(kvtsim::card_image().value()[0], kvt::kInvalidatedVersion);
        }
        EXPECT_EQ(kvtsim::daemon_state(), "shutdown");
    }

    // Undoes what the row did to the SP, so that a capture can succeed; the
    // recorded shutdown always makes the next start capture, and only a
    // marked card (not one that was out of the slot) adds "card invalid".
    void expect_next_start_captures()
    {
        const auto card = kvtsim::card_image();
        const bool marked = card && (*card)[0] == kvt::kInvalidatedVersion;
        kvtsim::faults_clear_all();
        ASSERT_EQ(kvtsim::write_kvt_data(kvt_data), 0);
        fs::remove_all(kvtsim::path_in_root(kCliModes));
        ASSERT_EQ(kvtsim::write_cli_mode_file(cli_modes), 0);
        kvtsim::nv_set("sp_post_diag_mode", "normal");
        kvtsim::nv_set("keyswitch_state", "0");
        if (!kvtsim::card_present()) {
            ASSERT_EQ(kvtsim::card_insert(), 0);
        }
        clear_log();
        daemon.emplace();
        ASSERT_TRUE(wait_for_log(kRunning)) << root.service_log();
        const std::string why = marked ? "card invalidated by a fatal stop" : "card valid";
        EXPECT_TRUE(log_has("startup decision: capture (" + why + ", shutdown recorded)\n"))
            << root.service_log();
        EXPECT_EQ(kvtsim::daemon_state(), "running");
        expect_card_is_this_sps();
        EXPECT_TRUE(ends_cleanly_on_sigterm(*daemon));
    }

    SimRoot root;
    const std::string kvt_data = root.read(kKvtData);
    const std::string cli_modes = kvtsim::cli_mode_file();
    std::optional<EventManager> em;
    std::optional<Daemon> daemon; // ends before the event manager
};

TEST_P(FatalStop, MarksTheCardRecordsShutdownLeavesNoProcessAndTheNextStartCaptures)
{
    const FatalPath &row = GetParam();
    ASSERT_NO_FATAL_FAILURE(start_into(row));
    ASSERT_NO_FATAL_FAILURE(expect_fatal_stop(row));
    EXPECT_TRUE(kvtsim::kvtd_pids().empty());
    expect_next_start_captures();
}

INSTANTIATE_TEST_SUITE_P(Paths, FatalStop, ::testing::ValuesIn(kPaths), kvttest::by_name);

// A section write that stops after one byte: the writer stops the daemon,
// and the stop's whole-image write puts the full new section on the card.
TEST(TornWrite, OfASectionEndsInTheFatalStopWithTheWholeImageRewritten)
{
    SimRoot root;
    std::optional<EventManager> em;
    std::optional<Daemon> daemon;
    ASSERT_NO_FATAL_FAILURE(start_live(em, daemon));
    kvtsim::ImageBytes expected = kvtsim::card_image().value();
    expected[offsetof(kvt::Image, mailhost_port)] = 2525 >> 8;
    expected[offsetof(kvt::Image, mailhost_port) + 1] = 2525 & 0xFF;
    const kvt::SectionSpan &console = kvt::span_of(kvt::Section::console);
    calculate_xor_checksum(&expected.at(console.first), static_cast<int>(console.length),
                           &expected.at(console.cksum));
    expected[0] = kvt::kInvalidatedVersion;

    kvtsim::fault_set("card.write_torn", 1, 1);
    ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", "2525"), 0);
    ASSERT_TRUE(daemon->wait_exit().has_value());
    ASSERT_TRUE(wait_no_daemon());
    const std::string log = root.service_log();
    EXPECT_LT(log.find("write_mailhost: write_KVT failed!\n"), log.find(kShutdown)) << log;
    EXPECT_EQ(kvtsim::card_image(), expected);
}

} // namespace
} // namespace kvttest
