// Runs the real kvtd on the current simulated SP root.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/support/sim_root.hpp"

namespace kvttest {

struct DaemonOptions {
    std::vector<std::string> args = {}; // after argv[0]
    double time_scale = 0.01;           // 10 s of daemon time take 100 ms
    std::string argv0 = KVTD_BINARY;
    // A program that runs kvtd, and its arguments before kvtd's path (e.g.
    // valgrind and its options). With one, argv0 is not used.
    std::vector<std::string> wrapper = {};
    bool stdin_closed = false;
};

// Starts kvtd with KVT_SP_ROOT and KVT_SIM_TIME_SCALE set; its standard
// output and error are kept in files. The destructor kills what is left
// of the daemon on this root.
class Daemon {
  public:
    explicit Daemon(DaemonOptions options = {});
    ~Daemon();
    Daemon(const Daemon &) = delete;
    Daemon &operator=(const Daemon &) = delete;

    pid_t pid() const { return pid_; }
    // Sends a stop signal and waits for the started process (the parent,
    // with "-b") to end; its wait status, or nullopt after `limit`.
    std::optional<int> stop(int sig, std::chrono::milliseconds limit = 30s);
    // Signal 0 sends nothing.
    std::optional<int> wait_exit(std::chrono::milliseconds limit = 30s) { return stop(0, limit); }
    std::string stdout_text() const { return read_file(out_path_); }
    std::string stderr_text() const { return read_file(err_path_); }

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::string out_path_;
    std::string err_path_;
};

// Sends a stop signal to `pid` and waits until `ended` holds, at most
// `limit`. False if it never did.
bool signal_until(pid_t pid, int sig, const std::function<bool()> &ended,
                  std::chrono::milliseconds limit = 30s);

// The exit code of a process that ended on its own, -1 for any other end
// or none.
int exit_code(std::optional<int> wait_status);

// Waits until no kvtd process runs on the current root.
bool wait_no_daemon(std::chrono::milliseconds limit = 30s);

} // namespace kvttest
