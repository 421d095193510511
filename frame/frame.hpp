// The daemon frame: process shell, halt operations and the critical log.
#pragma once

#include <atomic>
#include <pthread.h>

extern std::atomic<bool> frameRunning;
extern const char *processName;
extern int currentState;
extern pthread_mutex_t stateMutex;

int critical_log(const char *format, ...) __attribute__((format(printf, 1, 2)));
int request_halt(const char *reason);
void process_requests_halt();

int frame_main(int argc, char **argv);
