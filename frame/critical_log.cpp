// The few events that must be found whatever the log configuration.
#include "frame/frame.hpp"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/util.h"

static void format_local_time(char *out, std::size_t out_len)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    if (std::strftime(out, out_len, "%d/%m/%Y %T", &local) == 0)
        out[0] = '\0';
}

int critical_log(const char *format, ...)
{
    char path[512];
    std::FILE *log =
        std::fopen(sp_resolve_path("/var/log/daemon_critical.log", path, sizeof path), "a");
    char stamp[100];
    format_local_time(stamp, sizeof stamp);

    std::FILE *out = log ? log : stderr;
    std::fprintf(out, "%s ", stamp);
    va_list args;
    va_start(args, format);
    const int written = std::vfprintf(out, format, args);
    va_end(args);
    std::fflush(out);
    if (log)
        std::fclose(log);
    return written;
}
