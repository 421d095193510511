// The card monitor, the service's run loop: every 10 seconds it reads the
// card's header over I2C and raises faults for a card that is missing,
// unsound or another SP's, until a card that stays away ends the daemon.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "base/luapi_session.hpp"
#include "base/status.hpp"
#include "card/image.hpp"
#include "platform/capi.h"
#include "platform/card_lib.h"
#include "platform/i2c.h"
#include "platform/logging.h"
#include "platform/util.h"
#include "service/kvtd.hpp"

namespace {

constexpr unsigned kCheckPeriodSeconds = 10;
constexpr int kFailuresBeforeFault = 3;
constexpr int kChecksWhileWaiting = 6;

constexpr int kCardDevice = 0x53;
constexpr unsigned char kHeaderAddress[2] = {0x18, 0x00}; // high byte first
constexpr int kHeaderLength = 8;

enum Check { kPassed = 0, kI2cFailed = -1, kBadVersion = -2, kBadChecksum = -3, kOtherSp = -4 };

enum Event {
    kEventDifferent = 63,
    kEventRemoved = 64,
    kEventWaitBegins = 65,
    kEventCardBack = 66,
    kEventNotReplaced = 67,
    kEventCantDisableNet = 68,
    kEventNetDisabled = 69,
};

struct Marker {
    const char *path;
    int event;
    const char *text;
};

constexpr Marker kDifferentMarker{"/dev/shm/kvt_different", kEventDifferent, "KVT_DIFFERENT"};
constexpr Marker kRemovedMarker{"/dev/shm/kvt_removed", kEventRemoved, "KVT_REMOVED"};

void raise_fault(int event, const char *text)
{
    log_fault_event(event, text);
    kvt::status::record_fault_raised(event, text);
}

// Raises the marker's fault and leaves its file for other processes to
// test; a marker that cannot be created is no reason to stop monitoring.
// Opened as "a+" would, with its mode given: the daemon's umask is 0.
void raise_fault(const Marker &marker)
{
    raise_fault(marker.event, marker.text);
    const int fd = sp_open(marker.path, O_RDWR | O_CREAT | O_APPEND, 0644);
    if (fd >= 0)
        close(fd);
}

void clear_marker(const Marker &marker)
{
    const int fd = sp_open(marker.path, O_PATH, 0);
    if (fd < 0)
        return;
    close(fd);
    log_allclear_event(marker.event, marker.text);
    kvt::status::record_fault_cleared(marker.event);
    sp_unlink(marker.path);
}

void clear_markers()
{
    clear_marker(kDifferentMarker);
    clear_marker(kRemovedMarker);
}

void raise_fault_for(int check)
{
    raise_fault(check == kOtherSp ? kDifferentMarker : kRemovedMarker);
}

void wait_one_period()
{
    sp_sleep(kCheckPeriodSeconds);
}

// Up to six checks, 10 seconds apart; true at the first one that passes.
bool card_came_back()
{
    for (int n = 0; n < kChecksWhileWaiting; ++n) {
        wait_one_period();
        if (check_kvt_chip() != kPassed)
            continue;
        log_event(kEventCardBack, nullptr);
        clear_markers();
        return true;
    }
    return false;
}

void disable_network()
{
    luapi_session session;
    init_luapi_session(&session);
    if (set_obj_val(&session, "/X/network/state", "disabled") == 0)
        raise_fault(kEventNetDisabled, "NET_DISABLED");
    else
        raise_fault(kEventCantDisableNet, "CANT_DISABLE_NET");
    close_luapi_session(&session);
}

// An SP without its configuration card must not stay in service: no
// power-on, no network, a power operation on the system, and the daemon
// stops.
[[noreturn]] void give_up_on_card()
{
    raise_fault(kEventNotReplaced, "KVT_NOT_REPLACED");
    log_disable_powerons();
    disable_network();
    capi_power_op(0, "/SYS", 2);
    kvtd_fatal_stop();
}

// A fault declared with the result of the check that made it: markers and
// events, then the wait for the card. Returns only when the card came back.
void handle_fault(int check)
{
    raise_fault_for(check);
    log_event(kEventWaitBegins, nullptr);
    const bool back = card_came_back();
    if (check_kvt_chip() == kOtherSp)
        raise_fault(kDifferentMarker);
    if (!back)
        give_up_on_card();
}

int check_header()
{
    unsigned char header[kHeaderLength] = {};
    if (i2c_writeread(kCardDevice, kHeaderAddress, header, sizeof kHeaderAddress, kHeaderLength) !=
        0) {
        const int error = errno;
        log_error("i2c_writeread failed %d <%s>\n", error, std::strerror(error));
        return kI2cFailed;
    }
    if (header[0] != kvt::kImageVersion) {
        log_error("KVT Header Version Incorrect\n");
        return kBadVersion;
    }
    unsigned char checksum = 0;
    calculate_xor_checksum(header, kHeaderLength - 1, &checksum);
    if (checksum != header[kHeaderLength - 1]) {
        log_error("Data read from KVT fails checksum");
        return kBadChecksum;
    }
    unsigned char sp_mac[kvt::kMacLength];
    read_sp_mac(sp_mac);
    if (!std::equal(sp_mac, sp_mac + kvt::kMacLength, &header[1])) {
        log_error("Different KVT detected.");
        return kOtherSp;
    }
    return kPassed;
}

int monitor_stopped()
{
    kvt::status::record_stopped();
    return 0;
}

} // namespace

int check_kvt_chip()
{
    const int result = check_header();
    kvt::status::record_card_check(result);
    return result;
}

// The halt flag is looked at only after a passing check: a halt requested
// while the card is failing does not cut the fault handling short.
int trelmproc_run()
{
    clear_markers();
    log_progress("run, serverActive=%d\n", serverActive ? 1 : 0);
    if (!serverActive)
        return monitor_stopped();
    kvt::status::record_running();

    for (;;) {
        wait_one_period();
        int failures = 0;
        int check = check_kvt_chip();
        while (check != kPassed) {
            ++failures;
            wait_one_period();
            if (failures >= kFailuresBeforeFault)
                handle_fault(check);
            // After a card came back the count is kept: one more failure
            // declares the next fault.
            check = check_kvt_chip();
        }
        if (!serverActive)
            return monitor_stopped();
    }
}
