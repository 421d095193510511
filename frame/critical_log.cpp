// The few events that must be found whatever the log configuration.
#include "frame/frame.hpp"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

#include "platform/util.h"

static void format_local_time(char *out, std::size_t out_len)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    if (std::strftime(out, out_len, "%d/%m/%Y %T", &local) == 0)
        out[0] = '\0';
}

// Opened for appending with its mode given here: the daemon runs with a
// umask of 0 once it is in the background, and no one but the daemon may
// write this log.
static std::FILE *open_critical_log()
{
    const int fd = sp_open("/var/log/daemon_critical.log", O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0)
        return nullptr;
    std::FILE *log = fdopen(fd, "a");
    if (!log)
        close(fd);
    return log;
}

int critical_log(const char *format, ...)
{
    std::FILE *log = open_critical_log();
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
