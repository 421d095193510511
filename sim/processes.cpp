// The daemon's processes on this root, and the shell.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "platform/util.h"
#include "sim/control.hpp"
#include "sim/files.hpp"

namespace kvtsim
{

namespace
{

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

// The root the process was started on, as root() would see it there.
std::string root_of(const std::string &proc)
{
    const std::string prefix = std::string(kRootEnv) + "=";
    const auto environ_text = files::read(proc + "/environ");
    if (!environ_text)
        return {};
    std::size_t at = 0;
    while (at < environ_text->size()) {
        const std::size_t end = std::min(environ_text->find('\0', at), environ_text->size());
        const std::string_view entry(environ_text->data() + at, end - at);
        if (entry.starts_with(prefix) && entry.size() > prefix.size())
            return std::string(entry.substr(prefix.size()));
        at = end + 1;
    }
    return kDefaultRoot;
}

} // namespace

std::vector<int> kvtd_pids()
{
    std::vector<int> pids;
    const std::string here = root();
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
