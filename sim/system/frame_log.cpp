// The frame log: one line per dblog_print call, in the file that the first
// word of the process's configuration file names, or in
// <root>/var/log/<process name>.frame.log when there is no such file or no
// configuration path was given. The frame writes it from the main thread,
// the event thread and the event manager's delivery thread. As with the SP's
// logging library, a line before init_dblog or after fini_dblog_file goes
// nowhere, and so does a line above the level the log keeps.
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "platform/logging.h"
#include "platform/util.h"
#include "sim/control.hpp"
#include "sim/root/files.hpp"

namespace {

// The SP's library, as configured on the SP, keeps only level 0 lines.
constexpr int kKeptLevel = 0;

std::mutex frame_log_mutex;
std::string frame_log_path; // guarded by frame_log_mutex; empty while closed

} // namespace

extern "C" {

void init_dblog(const char *process_name, const char *config_path)
{
    const std::lock_guard<std::mutex> guard(frame_log_mutex);
    frame_log_path.clear();
    if (process_name == nullptr || *process_name == '\0')
        return;
    const std::string unconfigured = "/var/log/" + std::string(process_name) + ".frame.log";
    frame_log_path = config_path == nullptr
                         ? unconfigured
                         : kvtsim::files::word(kvtsim::path_in_root(config_path), unconfigured);
}

void dblog_print(int level, const char *format, ...)
{
    if (level > kKeptLevel)
        return;
    char text[2048];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0)
        return;
    std::string line = text;
    if (line.empty() || line.back() != '\n')
        line += '\n';
    const std::lock_guard<std::mutex> guard(frame_log_mutex);
    if (frame_log_path.empty())
        return;
    const int fd = kvtsim::files::open_in_root(frame_log_path.c_str(), O_WRONLY | O_APPEND,
                                               kvtsim::files::kFileMode);
    if (fd < 0)
        return;
    // One write per line: with O_APPEND the line stays whole even when
    // another process of the same name writes too.
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

void fini_dblog_file(int /*flags*/)
{
    const std::lock_guard<std::mutex> guard(frame_log_mutex);
    frame_log_path.clear();
}

} // extern "C"
