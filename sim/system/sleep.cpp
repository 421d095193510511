// Platform time: every wait of the daemon passes through sp_sleep, scaled
// by KVT_SIM_TIME_SCALE so that tests run the monitor's minutes in moments.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "platform/util.h"
#include "sim/control.hpp"
#include "sim/system/time_scale.hpp"

double kvtsim::time_scale()
{
    const char *text = std::getenv(kvtsim::kTimeScaleEnv);
    if (!text || !*text)
        return 1.0;
    char *end = nullptr;
    const double scale = std::strtod(text, &end);
    if (*end != '\0' || !std::isfinite(scale) || scale < 0)
        return 1.0;
    return scale;
}

extern "C" int sp_sleep(unsigned int seconds)
{
    const double wanted = seconds * kvtsim::time_scale();
    timespec span{};
    span.tv_sec = static_cast<time_t>(wanted);
    span.tv_nsec = static_cast<long>((wanted - static_cast<double>(span.tv_sec)) * 1e9);
    // Not restarted on EINTR: the daemon's signal handler must cut the wait
    // short so that a stop request is seen at once.
    if (::nanosleep(&span, nullptr) != 0 && errno == EINTR)
        return -1;
    return 0;
}
