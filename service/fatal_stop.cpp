#include "service/fatal_stop.hpp"

#include <cstdlib>
#include <unistd.h>

#include "card/image.hpp"
#include "frame/frame.hpp"
#include "platform/card_lib.h"
#include "platform/util.h"
#include "service/kvtd.hpp"
#include "service/log.hpp"
#include "service/status.hpp"

void initiate_server_shutdown(const char *reason)
{
    critical_log("cfgdbd/PID=%d - SERVER SHUTDOWN INITIATED:%s.\n", static_cast<int>(getpid()),
                 reason);
    serverActive = false;
    process_requests_halt();
}

std::recursive_mutex &card_image_lock()
{
    // Never destroyed: the fatal stop ends the process while holding it.
    static auto *lock = new std::recursive_mutex;
    return *lock;
}

namespace {

// How long the stop waits for an audit event that holds the image. An
// event's handler may itself be stuck (in a platform call that never
// returns); the card must still be invalidated and the daemon ended.
constexpr unsigned kImageWaitSeconds = 5;

// Takes the image lock, or gives up on it after the wait. Without the lock
// the whole image is written all the same: header 0xFF makes the card's
// copy worthless whatever a stuck event may still change in a section.
void take_image_lock_or_give_up()
{
    for (unsigned waited = 0;; ++waited) {
        if (card_image_lock().try_lock())
            return;
        if (waited == kImageWaitSeconds)
            break;
        sp_sleep(1);
    }
    log_error("kvtd_fatal_stop: an event still holds the card image after %u seconds, going on "
              "without it\n",
              kImageWaitSeconds);
}

} // namespace

// Any thread may get here. A second thread arriving while the first is on
// its way to the kill waits at the image lock until the kill ends both (or
// gives up on it and writes the same image); it also waits, for a bounded
// time, for an audit event that is still changing the image.
void kvtd_fatal_stop()
{
    log_error("===== kvtd shutting down =====\n");
    initiate_server_shutdown("kvtd shutting down");
    take_image_lock_or_give_up();

    // Version 0xFF keeps the card's copy from being taken for a valid one;
    // the recorded shutdown state makes the next start capture afresh.
    kvt_image.hdr_version = kvt::kInvalidatedVersion;
    kvt::status::record_fatal_stop(write_out_KVT(&kvt_image, KVT_IMAGE_SIZE));
    set_kvtd_state_shutdown();

    // Gives the other threads the time to see the cleared run flags.
    sp_sleep(10);
    sp_system("kill -9 `pidof kvtd`");
    std::exit(-1);
}
