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

// Moves a descriptor of the child's pipe off 0, 1 and 2, which the child
// points at /dev/null: started with standard input closed, the pipe's read
// end would be 0, and the child closing it would leave 0 closed.
int clear_of_stdio(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

bool open_ready_pipe(int ends[2])
{
    if (pipe2(ends, O_CLOEXEC) != 0)
        return false;
    ends[0] = clear_of_stdio(ends[0]);
    ends[1] = clear_of_stdio(ends[1]);
    return ends[0] >= 0 && ends[1] >= 0;
}

} // namespace

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
    const bool can_wait = open_ready_pipe(child_ready);
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
