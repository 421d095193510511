// What the frame does with each message the event manager delivers.
#include "frame/pcm_link.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/frame.hpp"
#include "frame/frame_internal.hpp"
#include "platform/logging.h"
#include "service/hooks.hpp"

std::atomic<std::uint32_t> lastHeartbeat{0};

namespace {

void warn_unexpected_type()
{
    dblog_print(0, "Warning, unexpected Event Mgr Message Type.\n");
}

// The heartbeat text need not be terminated within its length.
std::uint32_t parse_heartbeat(const void *data, unsigned int length)
{
    char text[64] = {};
    if (data)
        std::memcpy(text, data, std::min<std::size_t>(length, sizeof text - 1));
    errno = 0;
    const unsigned long number = std::strtoul(text, nullptr, 10);
    if (errno != 0)
        return 0;
    return static_cast<std::uint32_t>(number);
}

void on_em_notice(int event_type)
{
    if (event_type != kEmConnectionLost) {
        warn_unexpected_type();
        return;
    }
    // The event thread releases the handle and reconnects.
    emConnected = false;
}

void on_pcm_message(int event_type, const void *data, unsigned int length)
{
    switch (event_type) {
    case kPcmStateChange:
        processPossibleStateChange();
        return;
    case kPcmHeartbeat:
        lastHeartbeat = parse_heartbeat(data, length);
        answer_heartbeat(lastHeartbeat);
        return;
    case kPcmShutdown:
        request_halt("PCM Shutdown Request");
        return;
    case kPcmResetDefaults:
        dblog_print(0, "received reset to defaults.\n");
        trelmproc_reset_defaults();
        return;
    default:
        warn_unexpected_type();
    }
}

} // namespace

void answer_heartbeat(std::uint32_t number)
{
    if (!trelmproc_heartbeat_ok())
        return;
    char text[64];
    std::snprintf(text, sizeof text, "%s %lu", processName, static_cast<unsigned long>(number));
    const unsigned int length = std::strlen(text) + 1;
    if (event_mgr_post_event(kPcmProducerClass, kPcmHeartbeatReply, text, length) != 0)
        request_halt("Unable to generate PCM Heartbeat");
}

// Runs on emThread after each connection and on the delivery thread for
// each state-change message; the mutex keeps the service's view of old and
// new states in order.
void processPossibleStateChange()
{
    struct StateLock {
        StateLock() { require_zero(pthread_mutex_lock(&stateMutex), "processPossibleStateChange"); }
        ~StateLock()
        {
            require_zero(pthread_mutex_unlock(&stateMutex), "processPossibleStateChange");
        }
        StateLock(const StateLock &) = delete;
        StateLock &operator=(const StateLock &) = delete;
    } lock;
    const int next = procmon_getSystemState();
    trelmproc_state_transition(currentState, next);
    currentState = next;
}

extern "C" void emEventCallback(void *, int event_class, int event_type, void *data,
                                unsigned int length, void *)
{
    try {
        if (event_class == kEmNoticeClass)
            on_em_notice(event_type);
        else if (event_class == kPcmConsumerClass)
            on_pcm_message(event_type, data, length);
        else
            trelmproc_handle_event(event_class, event_type, data, length);
    } catch (...) {
        // The delivery thread belongs to the event manager; the message is
        // lost, the daemon goes on.
        dblog_print(0, "emEventCallback: unexpected exception, class %d type %d dropped.\n",
                    event_class, event_type);
    }
}
