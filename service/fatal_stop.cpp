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

// Any thread may get here. A second thread arriving while the first is on
// its way to the kill waits at the image lock until the kill ends both; it
// also waits for an audit event that is still changing the image.
void kvtd_fatal_stop()
{
    log_error("===== kvtd shutting down =====\n");
    initiate_server_shutdown("kvtd shutting down");
    card_image_lock().lock();

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
