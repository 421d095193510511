// Platform utilities of the simulated SP: fixed paths under the SP root,
// the per-path process lock and the path tests of the router.
#include "platform/util.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "sim/control.hpp"
#include "sim/root/files.hpp"

extern "C" {

// On the SP the path is returned as it is; here it moves under the root of
// the simulated SP, so that tests never meet the host's /etc or /var. The
// daemon opens its files with sp_open, which also checks the root; this
// form is for messages and path tests.
const char *sp_resolve_path(const char *fixed_path, char *out, size_t out_len)
{
    if (!out || out_len == 0)
        return out;
    std::snprintf(out, out_len, "%s%s", kvtsim::configured_root().c_str(),
                  fixed_path ? fixed_path : "");
    return out;
}

// The descriptor stays open for the life of the process: closing it would
// drop the lock. flock locks follow the open file, so the daemon's child
// keeps holding it after the fork into the background.
int get_lock(long *handle, const char *path)
{
    const int fd = kvtsim::files::open_in_root(path, O_RDWR, kvtsim::files::kPrivateMode);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    if (handle)
        *handle = fd;
    return 0;
}

int is_host_console(const char *path)
{
    if (!path)
        return 0;
    return std::strncmp(path, "/HOST/console", 13) == 0 ||
           std::strncmp(path, "/SP/console", 11) == 0;
}

int strrcmp_helper(const char *s, const char *suffix, size_t n)
{
    if (!s || !suffix)
        return 1;
    const size_t s_len = std::strlen(s);
    const size_t suffix_len = std::strlen(suffix);
    if (s_len < n || suffix_len < n)
        return 1;
    return std::memcmp(s + s_len - n, suffix + suffix_len - n, n) == 0 ? 0 : 1;
}

} // extern "C"
