// The one exit for unrecoverable errors: critical log line, halt, header
// invalidated on the card, shutdown state recorded, every kvtd killed.
#pragma once

#include <mutex>

[[noreturn]] void kvtd_fatal_stop();
void initiate_server_shutdown(const char *reason);

// Once the daemon runs, kvt_image changes on the event manager's delivery
// thread, one audit event at a time, and in the fatal stop on whichever
// thread meets an unrecoverable error; both hold this lock meanwhile.
// Recursive because the fatal stop is also reached from inside an event.
std::recursive_mutex &card_image_lock();
