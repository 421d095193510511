// The platform-control library's platform code and power operations.
#include <string>

#include "platform/capi.h"
#include "sim/control.hpp"
#include "sim/root/files.hpp"

namespace {
// The simulated SP's platform; the daemon only stores and passes it on.
constexpr int kSimPlatform = 0x42;
} // namespace

extern "C" {

int capi_get_platform(void)
{
    return kSimPlatform;
}

int capi_power_op(int flags, const char *target, int op)
{
    const std::string line =
        std::to_string(flags) + " " + (target ? target : "(null)") + " " + std::to_string(op);
    return kvtsim::files::append_line(kvtsim::sim_path("power.log"), line) ? 0 : -1;
}

} // extern "C"

namespace kvtsim {

std::vector<std::string> power_ops()
{
    return files::lines(sim_path("power.log"));
}

} // namespace kvtsim
