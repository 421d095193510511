// Start-up reconciliation: decides once per start whether the card or the
// SP holds the configuration to keep, and brings the other side in step.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/resource.h>

#include "card/dump.hpp"
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
#include "service/fatal_stop.hpp"
#include "service/kvtd.hpp"
#include "service/log.hpp"

namespace
{

constexpr rlim_t kCoreFileLimit = 10485760;
constexpr unsigned kIpmiRetrySeconds = 5;
constexpr int kIpmiSessionTimeout = 2;
constexpr std::uint8_t kIpmiPrivilege = 4;

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

// The validator gets a copy so that nothing it does can touch the image.
bool card_image_is_valid()
{
    kvt_image_t copy = kvt_image;
    return valid_KVT(&copy, kvtPlatform) != 0;
}

// The capture's and the restore's whole-image write; a card that takes no
// write leaves nothing to keep in step with.
void write_whole_image_or_stop()
{
    if (write_out_KVT(&kvt_image, KVT_IMAGE_SIZE) >= 0)
        return;
    const int error = errno;
    log_error("write of KVT chip failed!\n");
    log_error("\terror: %s\n", std::strerror(error));
    kvtd_fatal_stop();
}

const char *capture_reason(bool valid, bool shutdown)
{
    if (!valid && shutdown)
        return "card invalid, shutdown recorded";
    return valid ? "shutdown recorded" : "card invalid";
}

void capture_to_card(const char *reason)
{
    log_progress("startup decision: capture (%s)\n", reason);
    log_progress("KVT sp configuration contents invalid, saving current configuration...\n");
    std::memset(&kvt_image, 0, KVT_IMAGE_SIZE);
    get_current_config(&kvt_image);
    log_progress("data to be written:\n");
    dump_kvt_image(&kvt_image);
    write_whole_image_or_stop();
    log_progress("wrote KVT\n");
}

bool card_mac_is_sp_mac()
{
    std::memset(&kvt_new_image, 0, KVT_IMAGE_SIZE);
    read_sp_mac(kvt_new_image.sp_mac);
    return std::memcmp(kvt_image.sp_mac, kvt_new_image.sp_mac, kvt::kMacLength) == 0;
}

std::string restore_reason(bool same_mac, int moved)
{
    std::string reason = "card valid";
    if (!same_mac)
        reason += ", card MAC differs from SP MAC";
    if (moved != 0)
        reason += ", card moved";
    return reason;
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
// (they stop the daemon); user changes that failed are only logged.
void log_restore_summary(bool user_data_off, int user_failures)
{
    if (user_data_off)
        log_progress("restore summary: users skipped (user data backup off)\n");
    else if (user_failures > 0)
        log_progress("restore summary: users applied with %d failures (see lines above)\n",
                     user_failures);
    else
        log_progress("restore summary: users applied\n");
    if (user_data_off)
        log_progress("restore summary: CLI modes skipped (user data backup off)\n");
    else
        log_progress("restore summary: CLI modes applied\n");
    log_progress("restore summary: network applied\n");
    log_progress("restore summary: misc settings applied\n");
}

void restore_from_card(int moved)
{
    log_progress("old config (chip):\n");
    dump_kvt_image(&kvt_image);
    log_progress("doing restore\n");
    log_mac("kvt_image.sp_mac", kvt_image.sp_mac);
    log_mac("kvt_new_image.sp_mac", kvt_new_image.sp_mac);
    log_progress("kvtd_was_moved = %d\n", moved);

    // The policy as restore_passwd and restore_climode see it.
    const bool user_data_off = kvt::user_data_backup_off(kvt_image);
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
    log_restore_summary(user_data_off, restore_passwd_failures());
}

void compare_and_restore(int moved)
{
    const bool same_mac = card_mac_is_sp_mac();
    if (same_mac && moved == 0) {
        log_progress("startup decision: nothing to do (card valid, MAC matches, not moved)\n");
        return;
    }
    log_progress("startup decision: restore (%s)\n", restore_reason(same_mac, moved).c_str());
    restore_from_card(moved);
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
    std::uint8_t privilege = kIpmiPrivilege;
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

    const bool valid = card_image_is_valid();
    if (!valid || shutdown != 0)
        capture_to_card(capture_reason(valid, shutdown != 0));
    else
        compare_and_restore(moved);

    mark_running();
    return 0;
}
