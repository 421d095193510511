// The frame's link to the process-control manager over the event manager:
// the event thread, the callback the event manager calls, and the replies.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/event_mgr.h"

// Classes and types of the PCM's messages.
inline constexpr int kPcmProducerClass = 100; // to the PCM
inline constexpr int kPcmInitialize = 1;
inline constexpr int kPcmHeartbeatReply = 2;
inline constexpr int kPcmConsumerClass = 101; // from the PCM
inline constexpr int kPcmStateChange = 1;
inline constexpr int kPcmHeartbeat = 2;
inline constexpr int kPcmShutdown = 3;
inline constexpr int kPcmResetDefaults = 4;
// The event manager's own notices.
inline constexpr int kEmNoticeClass = -1;
inline constexpr int kEmConnectionLost = -1;

// Only the event thread touches the handle; 0 when none is held.
extern event_mgr_handle_t emHandle;
extern std::atomic<bool> emConnected;
extern std::atomic<std::uint32_t> lastHeartbeat;

void *emThread(void *unused);
void emDisconnect();
void processPossibleStateChange();
void answer_heartbeat(std::uint32_t number);

// Runs on the event manager's delivery thread, one message at a time.
extern "C" void emEventCallback(void *unused, int event_class, int event_type, void *data,
                                unsigned int length, void *extra);
