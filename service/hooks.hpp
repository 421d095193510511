// The hooks by which the frame calls the service it hosts.
#pragma once

#include <cstdint>

#include "platform/event_mgr.h"

const char *trelmproc_get_name();
int trelmproc_configure(int argc, char **argv);
int trelmproc_initialize();
int trelmproc_run();
int trelmproc_stop();
void trelmproc_state_transition(int old_state, int new_state);
void trelmproc_em_connected(event_mgr_handle_t handle);
void trelmproc_em_disconnected();
void trelmproc_handle_event(int event_class, int event_type, void *data, std::uint32_t length);
void trelmproc_reset_defaults();
bool trelmproc_heartbeat_ok();
