#include "frame/frame.hpp"

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The parent leaves at once with status 0; whoever started the daemon has
// waited for its initialisation, which ran before this.
int daemonize()
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid > 0)
        _exit(0);
    setsid();
    umask(0);
    redirect_stdio();
    return 0;
}
