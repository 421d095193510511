// The logging library's file appends: ez_log_nostamp and time_now.
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

#include "platform/logging.h"
#include "platform/util.h"
#include "sim/root/files.hpp"

extern "C" {

void ez_log_nostamp(const char *path, const char *format, ...)
{
    const int fd = kvtsim::files::open_in_root(path, O_WRONLY | O_APPEND, kvtsim::files::kFileMode);
    if (fd < 0)
        return;
    va_list args;
    va_start(args, format);
    ::vdprintf(fd, format, args);
    va_end(args);
    ::close(fd);
}

const char *time_now(void)
{
    thread_local char text[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!::localtime_r(&now, &local) ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
        text[0] = '\0';
    return text;
}

} // extern "C"
