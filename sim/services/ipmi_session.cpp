// The IPMI library's internal session: available while IPMI is up, which
// the simulated SP records as the file <root>/sim/ipmi_up.
#include <string>

#include <unistd.h>

#include "platform/ipmi.h"
#include "sim/control.hpp"
#include "sim/root/files.hpp"

namespace kvtsim {

void set_ipmi_up(bool up)
{
    const std::string path = sim_path("ipmi_up");
    if (up)
        files::replace(path, std::string());
    else
        ::unlink(path.c_str());
}

} // namespace kvtsim

extern "C" {

int LIBIPMI_Create_Internal_Session(IPMI20_SESSION_T * /*session*/, uint8_t * /*privilege*/,
                                    int /*timeout*/)
{
    return kvtsim::files::exists(kvtsim::sim_path("ipmi_up")) ? 0 : -1;
}

int LIBIPMI_CloseSession(IPMI20_SESSION_T * /*session*/)
{
    return 0;
}

} // extern "C"
