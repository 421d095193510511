// Start-up reconciliation: decides once per start whether the card or the
// SP holds the configuration to keep, and brings the other side in step.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "base/fatal_stop.hpp"
#include "base/image_dump.hpp"
#include "base/log.hpp"
#include "base/status.hpp"
#include "card/image.hpp"
#include "platform/capi.h"
#include "platform/card_lib.h"
#include "platform/ipmi.h"
#include "platform/util.h"
#include "sections/climode.hpp"
#include "sections/misc.hpp"
#include "sections/network.hpp"
#include "sections/user_data.hpp"
#include "sections/users.hpp"
#include "service/card_keep.hpp"
#include "service/kvtd.hpp"
#include "service/startup_decision.hpp"

namespace {

constexpr rlim_t kCoreFileLimit = 10485760;
constexpr unsigned kIpmiRetrySeconds = 5;
constexpr int kIpmiSessionTimeout = 2;

void limit_core_files()
{
    const rlimit limit{kCoreFileLimit, kCoreFileLimit};
    if (setrlimit(RLIMIT_CORE, &limit) != 0)
        std::printf("setrlimit failed: error %s\n", std::strerror(errno));
}

void read_card_or_stop()
{
    if (read_in_KVT(&kvt_image, KVT_IMAGE_SIZE) >= 0)
        return;
    log_error("error from initial read of KVT - kvtd aborting!\n");
    kvtd_fatal_stop();
}

// What start-up learnt and did, logged once the fixed start-up sequence
// has ended with "initialization complete", so that no line of ours
// splits it.
struct StartupReport {
    kvt::StartupFacts facts;
    kvt::StartupAction action = kvt::StartupAction::nothing;
    kvt_card_verdict verdict{};
    kvt::KeptCard kept;
    bool restored = false;
    bool user_data_off = false;
    int user_failures = 0;
    int climodes_skipped = 0;
};

bool card_is_blank(const kvt_image_t &image)
{
    const auto bytes = kvt::image_bytes(image);
    return std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0xFF; });
}

// The capture's and the restore's whole-image write; a card that takes no
// write leaves nothing to keep in step with.
void write_whole_image_or_stop()
{
    const int written = write_out_KVT(&kvt_image, KVT_IMAGE_SIZE);
    kvt::status::record_whole_image_write(written);
    if (written >= 0)
        return;
    const int error = errno;
    log_error("write of KVT chip failed!\n");
    log_error("\terror: %s\n", std::strerror(error));
    kvtd_fatal_stop();
}

// What the card library read of the card, as a dump of the whole part.
void keep_card(StartupReport &report)
{
    std::vector<unsigned char> part(KVT_LARGEST_PART);
    const int size = card_as_read_KVT(part.data(), KVT_LARGEST_PART);
    if (size < 0)
        return;
    part.resize(static_cast<std::size_t>(size));
    report.kept = kvt::keep_overwritten_card(part);
}

void capture_to_card(StartupReport &report)
{
    if (!card_is_blank(kvt_image))
        keep_card(report);
    log_progress("KVT sp configuration contents invalid, saving current configuration...\n");
    std::memset(&kvt_image, 0, KVT_IMAGE_SIZE);
    get_current_config(&kvt_image);
    log_progress("data to be written:\n");
    log_image_dump(&kvt_image);
    write_whole_image_or_stop();
    log_progress("wrote KVT\n");
}

bool card_mac_is_sp_mac()
{
    std::memset(&kvt_new_image, 0, KVT_IMAGE_SIZE);
    read_sp_mac(kvt_new_image.sp_mac);
    return std::memcmp(kvt_image.sp_mac, kvt_new_image.sp_mac, kvt::kMacLength) == 0;
}

void log_mac(const char *label, const unsigned char *mac)
{
    log_progress("%s = %02hhx:%02hhx:%02hhx:%02hhx:%02hhx:%02hhx\n", label, mac[0], mac[1], mac[2],
                 mac[3], mac[4], mac[5]);
}

void take_sp_identity()
{
    read_sp_mac(kvt_image.sp_mac);
    kvt_image.hdr_version = kvt::kImageVersion;
    calculate_xor_checksum(&kvt_image, static_cast<int>(offsetof(kvt_image_t, cksum1)),
                           &kvt_image.cksum1);
}

// What the restore did, section by section, for whoever reads the log
// after a board or card swap. Network and misc failures never get here
// (they stop the daemon); user changes the SP refused and CLI-mode lines
// that would not read back are only logged.
void log_summary_line(const char *what, bool skipped_by_policy, int left_out, const char *unit)
{
    if (skipped_by_policy)
        log_progress("restore summary: %s skipped (user data backup off)\n", what);
    else if (left_out > 0)
        log_progress("restore summary: %s applied with %d %s (see lines above)\n", what, left_out,
                     unit);
    else
        log_progress("restore summary: %s applied\n", what);
}

void log_restore_summary(const StartupReport &report)
{
    log_summary_line("users", report.user_data_off, report.user_failures, "failures");
    log_summary_line("CLI modes", report.user_data_off, report.climodes_skipped, "left out");
    log_progress("restore summary: network applied\n");
    log_progress("restore summary: misc settings applied\n");
}

void restore_from_card(StartupReport &report, int moved)
{
    log_progress("old config (chip):\n");
    log_image_dump(&kvt_image);
    log_progress("doing restore\n");
    log_mac("kvt_image.sp_mac", kvt_image.sp_mac);
    log_mac("kvt_new_image.sp_mac", kvt_new_image.sp_mac);
    log_progress("kvtd_was_moved = %d\n", moved);

    // The policy as restore_passwd and restore_climode see it.
    report.user_data_off = kvt::user_data_backup_off(kvt_image);
    log_progress("restoring users\n");
    restore_passwd();
    take_sp_identity();
    log_progress("restoring climode\n");
    restore_climode();
    log_progress("restoring network config\n");
    restore_network();
    restore_misc();

    // The section writers never send the header, so without this write the
    // card would keep the other SP's MAC and the card monitor would take
    // the card we just restored from for a foreign one.
    write_whole_image_or_stop();
    log_progress("restore complete\n");
    report.restored = true;
    report.user_failures = restore_passwd_failures();
    report.climodes_skipped = restore_climode_skipped();
}

// The status takes the decision before it is carried out, so that a start
// that ends in the fatal stop still tells which path it was on.
void record_decision(const StartupReport &report)
{
    kvt::status::record_decision(kvt::action_name(report.action),
                                 kvt::startup_reason(report.facts).c_str());
}

void log_report(const StartupReport &report)
{
    log_progress("startup decision: %s (%s)\n", kvt::action_name(report.action),
                 kvt::startup_reason(report.facts).c_str());
    if (report.verdict.warning[0] != '\0')
        log_progress("startup: card warning: %s\n", report.verdict.warning);
    if (report.kept.kept)
        log_progress("startup: the card's previous image is kept in %s\n",
                     report.kept.path.c_str());
    else if (!report.kept.path.empty())
        log_progress("startup: could not keep the card's previous image in %s: %s\n",
                     report.kept.path.c_str(), report.kept.error.c_str());
    if (report.restored)
        log_restore_summary(report);
}

void mark_running()
{
    set_kvtd_state_running();
    set_kvtd_state_moved("no");
    log_progress("initialization complete\n");
}

} // namespace

void wait_for_ipmi()
{
    IPMI20_SESSION_T session{};
    std::uint8_t privilege = kvt::kPrivilegeAdmin;
    while (LIBIPMI_Create_Internal_Session(&session, &privilege, kIpmiSessionTimeout) != 0) {
        log_progress("waiting for IPMI\n");
        sp_sleep(kIpmiRetrySeconds);
    }
    LIBIPMI_CloseSession(&session);
}

// Runs on the main thread before the fork and before the event thread
// exists, so no audit event can touch kvt_image meanwhile.
int trelmproc_initialize()
{
    serverActive = true;
    log_progress("initialize\n");
    const int shutdown = kvtd_is_shutdown();
    const int moved = kvtd_is_moved();
    set_kvtd_state_initializing();
    limit_core_files();
    wait_for_ipmi();
    kvtPlatform = capi_get_platform();
    read_card_or_stop();

    StartupReport report;
    report.facts.shutdown = shutdown != 0;
    report.facts.moved = moved != 0;
    kvt::judge_card(kvt_image, report.facts, report.verdict);
    // A card that is captured over needs no MAC comparison, so the SP's
    // MAC is read only when the decision can still turn on it.
    if (kvt::startup_action(report.facts) != kvt::StartupAction::capture)
        report.facts.same_mac = card_mac_is_sp_mac();
    report.action = kvt::startup_action(report.facts);
    record_decision(report);
    if (report.action == kvt::StartupAction::capture)
        capture_to_card(report);
    else if (report.action == kvt::StartupAction::restore)
        restore_from_card(report, moved);

    mark_running();
    log_report(report);
    return 0;
}
