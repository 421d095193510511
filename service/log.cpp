#include "service/log.hpp"

#include <cstdarg>
#include <cstdio>

#include "platform/logging.h"

namespace kvt {

int debug_level = 100;

void log_line_above(int threshold, const char *format, ...)
{
    if (debug_level <= threshold)
        return;
    char message[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    ez_log_nostamp(kServiceLogPath, "%s ", time_now());
    ez_log_nostamp(kServiceLogPath, "%s", message);
}

} // namespace kvt
