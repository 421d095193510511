// The daemon's processes on this root, and the shell.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "platform/util.h"
#include "sim/control.hpp"
#include "sim/root/files.hpp"

namespace kvtsim {

namespace {

constexpr const char *kKillAllKvtd = "kill -9 `pidof kvtd`";

bool is_kvtd(const std::string &proc)
{
    return files::word(proc + "/comm", "") == "kvtd";
}

bool is_zombie(const std::string &proc)
{
    const auto stat = files::read(proc + "/stat");
    if (!stat)
        return true;
    // The state follows the command name in parentheses, which may itself
    // hold blanks or parentheses.
    const auto close = stat->rfind(')');
    if (close == std::string::npos || close + 2 >= stat->size())
        return true;
    const char state = (*stat)[close + 2];
    return state == 'Z' || state == 'X';
}

// The value of `name` in a process's environment block, or empty.
std::string env_value(std::string_view block, std::string_view name)
{
    std::size_t at = 0;
    while (at < block.size()) {
        const std::size_t end = std::min(block.find('\0', at), block.size());
        const std::string_view entry = block.substr(at, end - at);
        if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=')
            return std::string(entry.substr(name.size() + 1));
        at = end + 1;
    }
    return {};
}

// The root the process was started on, as configured_root() would see it
// there (a process without a home in its environment is not matched).
std::string root_of(const std::string &proc)
{
    const auto block = files::read(proc + "/environ");
    if (!block)
        return {};
    if (std::string dir = env_value(*block, kRootEnv); !dir.empty())
        return dir;
    if (std::string runtime = env_value(*block, "XDG_RUNTIME_DIR"); !runtime.empty())
        return runtime + "/kvt-sp";
    if (std::string home = env_value(*block, "HOME"); !home.empty())
        return home + "/.kvt-sp";
    return {};
}

} // namespace

std::vector<int> kvtd_pids()
{
    std::vector<int> pids;
    const std::string here = configured_root();
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string proc = entry.path().string();
        if (is_kvtd(proc) && !is_zombie(proc) && root_of(proc) == here)
            pids.push_back(std::atoi(name.c_str()));
    }
    return pids;
}

} // namespace kvtsim

// The fatal stop kills "every kvtd": on the simulated SP that means every
// kvtd of this root, so that tests on other roots keep their daemons.
extern "C" int sp_system(const char *command)
{
    if (!command || std::strcmp(command, kvtsim::kKillAllKvtd) != 0)
        return std::system(command);
    const pid_t self = ::getpid();
    bool self_listed = false;
    for (int pid : kvtsim::kvtd_pids()) {
        if (pid == self)
            self_listed = true;
        else
            ::kill(pid, SIGKILL);
    }
    if (self_listed)
        ::kill(self, SIGKILL);
    return 0;
}
