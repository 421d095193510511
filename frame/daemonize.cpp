#include "frame/frame.hpp"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/status.hpp"

namespace {

// How long the parent waits for the child's status at most. The child only
// rewrites one small file before it lets go, so this bound is never reached
// unless the file system hangs; then the parent leaves all the same.
constexpr int kStatusWaitMs = 5000;

// Until the child closes its end of the pipe (or ends, which closes it).
void wait_for_close(int fd)
{
    pollfd ready{.fd = fd, .events = POLLIN, .revents = 0};
    while (poll(&ready, 1, kStatusWaitMs) < 0 && errno == EINTR) {
    }
}

} // namespace

// Started with any of 0, 1 and 2 closed, the daemon's first files would
// take them, and the background start would point them at /dev/null: the
// singleton lock would be let go. They are held on /dev/null from the start.
void keep_stdio_open()
{
    for (;;) {
        const int fd = open("/dev/null", O_RDWR);
        if (fd < 0)
            return;
        if (fd > 2) {
            close(fd);
            return;
        }
    }
}

void redirect_stdio()
{
    const int fd = open("/dev/null", O_RDWR);
    if (fd < 0)
        return;
    dup2(fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    if (fd > 2)
        close(fd);
}

// The parent leaves with status 0; whoever started the daemon has waited
// for its initialisation, which ran before this. It waits first until the
// child has put its own PID in the status file, so that a caller reading
// the status once `kvtd -b` returned finds the daemon, not the parent.
int daemonize()
{
    std::fflush(nullptr);
    int child_ready[2];
    const bool can_wait = pipe2(child_ready, O_CLOEXEC) == 0;
    const pid_t pid = fork();
    if (pid > 0) {
        if (can_wait) {
            close(child_ready[1]);
            wait_for_close(child_ready[0]);
        }
        _exit(0);
    }
    if (pid == 0) {
        setsid();
        umask(0);
        redirect_stdio();
        kvt::status::record_forked();
    }
    if (can_wait) {
        close(child_ready[0]);
        close(child_ready[1]);
    }
    return pid < 0 ? -1 : 0;
}
