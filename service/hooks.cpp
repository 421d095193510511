// The hooks by which the daemon frame runs the kvtd service. Start-up and
// the run loop live in startup.cpp and monitor.cpp.
#include "frame/hooks.hpp"

#include "frame/frame.hpp"
#include "platform/event_mgr.h"
#include "platform/logging.h"
#include "service/fatal_stop.hpp"
#include "service/kvtd.hpp"
#include "service/log.hpp"
#include "service/status.hpp"

namespace {

// Audit events of the configuration services.
constexpr int kAuditClass = 106;

} // namespace

const char *trelmproc_get_name()
{
    return "kvtd";
}

int trelmproc_configure(int argc, char **argv)
{
    log_progress("configure...\n");
    for (int i = 0; i < argc; ++i)
        log_progress("<%s> ", argv[i]);
    return 0;
}

int trelmproc_stop()
{
    serverActive = false;
    return 1;
}

void trelmproc_state_transition(int old_state, int new_state)
{
    log_progress("kvtd: trelmproc_state_transition() - old state = %d, new state = %d\n", old_state,
                 new_state);
}

// There is no retry here: a refused audit subscription is renewed with the
// next connection.
void trelmproc_em_connected(event_mgr_handle_t handle)
{
    log_progress("kvtd: trelmproc_em_connected()\n");
    const int status = event_mgr_subscribe_event_class(handle, kAuditClass);
    if (status != 0)
        log_error("Registering for CLASS_MGMT_AUDIT  events failed. Status = %d\n", status);
    kvt::status::record_link(true, status == 0);
    log_progress("registered for events\n");
}

void trelmproc_em_disconnected()
{
    dblog_print(0, "kvtd - EM Disconnected.\n");
    kvt::status::record_link(false, false);
}

void trelmproc_handle_event(int event_class, int event_type, void *data, std::uint32_t length)
{
    if (event_class != kAuditClass)
        return;
    kvtd_handle_event(event_class, event_type, data, length);
}

void trelmproc_reset_defaults()
{
    log_progress("In trelmproc_reset_defaults()\n");
}

bool trelmproc_heartbeat_ok()
{
    log_progress("In trelmproc_heartbeat_ok()\n");
    return true;
}
