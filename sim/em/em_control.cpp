// Control of the simulated event manager process and requests to its PCM.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim/control.hpp"
#include "sim/em/em_protocol.hpp"
#include "sim/root/files.hpp"

namespace kvtsim {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kStartStopLimit = 10s;

template <typename Done> bool wait_for(Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + kStartStopLimit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::string default_program()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return "kvtsim-em";
    return (self.parent_path() / "kvtsim-em").string();
}

// The event manager runs in a session of its own, so that it outlives
// the kvtsim command that started it. A test that starts and stops it
// reaps it in em_stop.
void spawn_detached(const std::string &program)
{
    if (::fork() != 0)
        return;
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    // Each event manager starts its own record of drops.
    const int err = files::open_file(sim_path("em.stderr"), O_WRONLY | O_CREAT | O_TRUNC);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(err >= 0 ? err : null, 2);
    ::execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
    ::_exit(127);
}

// The pid of the event manager of this root; -1 when the pid file does
// not name a running kvtsim-em (so a reused pid is never signalled).
pid_t em_pid()
{
    std::ifstream in(sim_path("em.pid"));
    pid_t pid = -1;
    if (!(in >> pid) || pid <= 0)
        return -1;
    std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
    std::string argv0;
    std::getline(cmdline, argv0, '\0');
    if (!argv0.ends_with("kvtsim-em"))
        return -1;
    return pid;
}

bool process_gone(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return true;
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

int pcm_request(em::PcmOp op, int argument, std::string_view payload = {})
{
    return em::request(em::Kind::pcm, static_cast<std::int32_t>(op), argument, payload) == 0 ? 0
                                                                                             : -1;
}

} // namespace

bool em_running()
{
    const int fd = em::connect_socket();
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

int em_start(std::string_view program)
{
    if (em_running())
        return 0;
    ::setenv(kRootEnv, configured_root().c_str(), 1);
    spawn_detached(program.empty() ? default_program() : std::string(program));
    return wait_for(em_running) ? 0 : -1;
}

int em_stop()
{
    const pid_t pid = em_pid();
    if (pid < 0)
        return -1;
    ::kill(pid, SIGTERM);
    return wait_for([pid] {
        ::waitpid(pid, nullptr, WNOHANG); // ours when this process started it
        return process_gone(pid) && !em_running();
    })
               ? 0
               : -1;
}

int pcm_state(int state)
{
    return pcm_request(em::PcmOp::state, state);
}

int pcm_shutdown()
{
    return pcm_request(em::PcmOp::shutdown, 0);
}

int pcm_reset()
{
    return pcm_request(em::PcmOp::reset, 0);
}

int pcm_heartbeat(std::string_view number)
{
    return pcm_request(em::PcmOp::heartbeat, 0, number);
}

std::vector<std::string> pcm_log()
{
    std::ifstream in(sim_path("pcm.log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace kvtsim
