#include "tools/kvtcard/live_daemon.hpp"

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include <signal.h>

#include "service/status.hpp"

namespace kvtcard {

namespace {

// An ended process that nobody has reaped yet still answers a signal.
bool is_zombie(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const auto name_end = stat.rfind(") ");
    return name_end != std::string::npos && name_end + 2 < stat.size() &&
           (stat[name_end + 2] == 'Z' || stat[name_end + 2] == 'X');
}

} // namespace

bool process_runs(const std::string &pid_text)
{
    char *end = nullptr;
    errno = 0;
    const long pid = std::strtol(pid_text.c_str(), &end, 10);
    if (pid_text.empty() || *end != '\0' || errno != 0 || pid <= 0)
        return false;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)
        return false;
    return !is_zombie(pid);
}

std::string sp_status_path()
{
    const char *root = std::getenv("KVT_SP_ROOT");
    return std::string(root && *root ? root : "") + kvt::status::kPath;
}

std::string running_kvtd(const std::string &status_path)
{
    std::ifstream in(status_path);
    const std::string key = std::string(kvt::status::key::pid) + ": ";
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0)
            return process_runs(line.substr(key.size())) ? line.substr(key.size()) : "";
    return {};
}

} // namespace kvtcard
