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

// Any thread may get here, and nothing here waits for another thread: the
// card library takes the invalidating write whatever an event on another
// thread is doing with a section (it reads only the image's header for it).
// Two threads arriving at once each write the same header; the first kill
// ends both.
void kvtd_fatal_stop()
{
    log_error("===== kvtd shutting down =====\n");
    initiate_server_shutdown("kvtd shutting down");

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
