// The daemon state and the moved state that the card library keeps for
// kvtd, as files under <root>/sim/ so that they outlive the daemon.
#include <string>

#include "platform/card_lib.h"
#include "sim/control.hpp"
#include "sim/root/files.hpp"

namespace kvtsim {

std::string daemon_state()
{
    return files::word(sim_path("daemon_state"), "running");
}

void set_daemon_state(std::string_view state)
{
    files::replace(sim_path("daemon_state"), std::string(state) + "\n");
}

bool moved()
{
    return files::word(sim_path("moved"), "no") == "yes";
}

void set_moved(bool is_moved)
{
    files::replace(sim_path("moved"), std::string(is_moved ? "yes" : "no") + "\n");
}

} // namespace kvtsim

extern "C" {

int kvtd_is_shutdown(void)
{
    return kvtsim::daemon_state() == "shutdown";
}

int kvtd_is_moved(void)
{
    return kvtsim::moved();
}

void set_kvtd_state_initializing(void)
{
    kvtsim::set_daemon_state("initializing");
}

void set_kvtd_state_running(void)
{
    kvtsim::set_daemon_state("running");
}

void set_kvtd_state_shutdown(void)
{
    kvtsim::set_daemon_state("shutdown");
}

void set_kvtd_state_moved(const char *state)
{
    kvtsim::set_moved(state && std::string(state) == "yes");
}

} // extern "C"
