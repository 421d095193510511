#include "tests/support/daemon.hpp"

#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim/control.hpp"

namespace kvttest {

Daemon::Daemon(DaemonOptions options)
    : out_path_(kvtsim::sim_path("kvtd.stdout")), err_path_(kvtsim::sim_path("kvtd.stderr"))
{
    std::vector<std::string> words = options.wrapper;
    words.push_back(options.wrapper.empty() ? options.argv0 : std::string(KVTD_BINARY));
    words.insert(words.end(), options.args.begin(), options.args.end());
    const std::string program = options.wrapper.empty() ? KVTD_BINARY : options.wrapper.front();
    const std::string scale = std::to_string(options.time_scale);

    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ > 0)
        return;

    ::setenv(kvtsim::kTimeScaleEnv, scale.c_str(), 1);
    const int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.stdin_closed)
        ::close(0);
    // Nothing else of the test runner's: the daemon starts with 0, 1 and 2
    // alone, as a service manager starts it.
    if (::close_range(3, ~0U, 0) != 0)
        for (int fd = 3; fd < 1024; ++fd)
            ::close(fd);
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    ::execvp(program.c_str(), argv.data());
    ::_exit(127);
}

Daemon::~Daemon()
{
    for (int pid : kvtsim::kvtd_pids())
        ::kill(pid, SIGKILL);
    if (!reaped_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    wait_no_daemon(10s);
}

bool signal_until(pid_t pid, int sig, const std::function<bool()> &ended,
                  std::chrono::milliseconds limit)
{
    ::kill(pid, sig);
#if defined(__SANITIZE_THREAD__)
    // The ThreadSanitizer runtime (GCC 12) defers a signal that arrives
    // outside a blocking call and at times never hands it on: the daemon
    // sleeps on with its run flag still set and nothing pending. Only there
    // is the signal sent again; every other build must stop on the first.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (wait_until(ended, 3s))
            return true;
        ::kill(pid, sig);
    }
    return false;
#else
    return wait_until(ended, limit);
#endif
}

std::optional<int> Daemon::stop(int sig, std::chrono::milliseconds limit)
{
    int status = 0;
    if (!signal_until(
            pid_, sig, [&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit))
        return std::nullopt;
    reaped_ = true;
    return status;
}

bool wait_no_daemon(std::chrono::milliseconds limit)
{
    return wait_until([] { return kvtsim::kvtd_pids().empty(); }, limit);
}

int exit_code(std::optional<int> wait_status)
{
    if (!wait_status || !WIFEXITED(*wait_status))
        return -1;
    return WEXITSTATUS(*wait_status);
}

} // namespace kvttest
