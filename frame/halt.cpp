#include "frame/frame.hpp"
#include "service/hooks.hpp"

#include <unistd.h>

#include "platform/logging.h"

// Called from the signal handler, the event callback and the event thread;
// the run loop and the event thread notice the cleared flags at their next
// check.
int request_halt(const char *reason)
{
    (void)reason; // the callers name why; nothing keeps it
    frameRunning = false;
    return trelmproc_stop();
}

void process_requests_halt()
{
    dblog_print(0, "process requests halt, PID=%d.\n", static_cast<int>(getpid()));
    frameRunning = false;
}
