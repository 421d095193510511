// The event thread: holds the event-manager handle and the PCM
// subscription, and reconnects whenever the link is lost.
#include "frame/pcm_link.hpp"

#include <csignal>
#include <cstdio>

#include <pthread.h>
#include <unistd.h>

#include "frame/frame.hpp"
#include "platform/logging.h"
#include "platform/util.h"
#include "service/hooks.hpp"

event_mgr_handle_t emHandle = 0;
std::atomic<bool> emConnected{false};

namespace {

constexpr unsigned kIdleSeconds = 10;
constexpr unsigned kNoHandleSeconds = 10;
constexpr unsigned kSubscribeRetrySeconds = 5;
// Refusals in a row that are still retried; the next one halts the daemon.
constexpr int kSubscribeRetries = 20;

// The stop signals belong to the main thread, whose sleep they must cut.
void block_all_signals()
{
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

void wait_while_connected()
{
    while (emConnected && frameRunning)
        sp_sleep(kIdleSeconds);
}

void on_subscribed()
{
    emConnected = true;
    trelmproc_em_connected(emHandle);
    // A state change missed while the link was down is reported now.
    processPossibleStateChange();
}

void give_up_subscribing(int status)
{
    char reason[64];
    std::snprintf(reason, sizeof reason, "Unable to subscribe to PCM Consumer messages. status=%d",
                  status);
    request_halt(reason);
}

void keep_link()
{
    dblog_print(0, "emThread - PID %d...\n", static_cast<int>(getpid()));
    block_all_signals();
    int failures = 0;
    while (frameRunning) {
        wait_while_connected();
        emDisconnect();
        if (!frameRunning)
            break;
        if (event_mgr_get_handle(&emHandle, emEventCallback, nullptr) != 0) {
            emHandle = 0;
            emConnected = false;
            sp_sleep(kNoHandleSeconds);
            continue;
        }
        const int status = event_mgr_subscribe_event_class(emHandle, kPcmConsumerClass);
        if (status == 0) {
            failures = 0;
            on_subscribed();
            continue;
        }
        if (failures >= kSubscribeRetries) {
            give_up_subscribing(status);
            break;
        }
        ++failures;
        // The next pass releases the handle that was not subscribed.
        sp_sleep(kSubscribeRetrySeconds);
    }
    emDisconnect();
}

} // namespace

void emDisconnect()
{
    if (emHandle == 0)
        return;
    event_mgr_release_handle(emHandle);
    emHandle = 0;
    emConnected = false;
    trelmproc_em_disconnected();
}

void *emThread(void *)
{
    try {
        keep_link();
    } catch (...) {
        // Without its link the daemon cannot be supervised: stop in order
        // rather than let the exception end the process.
        dblog_print(0, "emThread: unexpected exception, link closed.\n");
        request_halt("emThread failed");
    }
    return nullptr;
}
