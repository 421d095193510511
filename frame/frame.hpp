// The daemon frame: process shell, halt operations and the critical log.
#pragma once

#include <pthread.h>

#include "base/daemon_state.hpp"

extern const char *processName;
extern int currentState;
extern pthread_mutex_t stateMutex;

int frame_main(int argc, char **argv);

// Options: "-0" clears singletonEnabled, "-b" sets backgroundMode.
extern bool singletonEnabled;
extern bool backgroundMode;

// The life cycle, in the order frame_main runs it.
void keep_stdio_open();
void run_core_dump_copy(int argc, char **argv);
void parse_options(int argc, char **argv);
int initialize_daemon();
int daemonize();
void redirect_stdio();
int setup_signal_handlers();
void signal_handler(int sig);
int run_daemon();
int fini_daemon();
