// The one exit for unrecoverable errors: critical log line, halt, header
// invalidated on the card, shutdown state recorded, every kvtd killed.
#pragma once

[[noreturn]] void kvtd_fatal_stop();
void initiate_server_shutdown(const char *reason);
