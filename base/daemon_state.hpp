// The state every layer of kvtd shares: the two run flags, the platform
// code, and the halt operations and critical log that the frame provides
// to the service and the fatal stop.
#pragma once

#include <atomic>

// Run flag of the frame; cleared by any halt.
extern std::atomic<bool> frameRunning;
// Run flag of the service; cleared by any halt.
extern std::atomic<bool> serverActive;
// Platform code, obtained at start-up; -1 until then.
extern int kvtPlatform;

int critical_log(const char *format, ...) __attribute__((format(printf, 1, 2)));
int request_halt(const char *reason);
void process_requests_halt();
