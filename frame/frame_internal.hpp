// State and helpers that only the frame's own files share.
#pragma once

#include <pthread.h>

// Filled by get_lock; held for the life of the process.
extern long lockHandle;
extern pthread_t emThreadId;

// The frame's mutex calls cannot fail in any way the daemon could recover
// from; like assert(rc == 0), but kept in every build.
void require_zero(int rc, const char *function);

// The last path component of `path`.
const char *last_component(const char *path);
