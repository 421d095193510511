// A copy of the daemon placed in the core-dump directory takes precedence
// over the installed one: it is how a patched binary is tried on an SP
// whose root file system is read-only.
#include "frame/frame.hpp"
#include "frame/frame_internal.hpp"

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/util.h"

namespace {

constexpr const char *kCoreDumpDir = "/coredump";

void warn_on_console(const char *path)
{
    const int fd = sp_open("/dev/console", O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0)
        return;
    std::FILE *out = fdopen(fd, "a");
    if (!out) {
        close(fd);
        return;
    }
    std::fprintf(out, "*** Warning: running %s\n", path);
    std::fflush(out);
    std::fclose(out);
}

// Owned by root (or by the user the daemon runs as, who could replace the
// daemon itself) and writable by nobody else.
bool trusted(const struct stat &st)
{
    const bool owner = st.st_uid == 0 || st.st_uid == geteuid();
    return owner && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Whoever may write the copy, or its directory, would have the daemon run
// what they like with the daemon's rights: the copy is run only when both
// are trusted, and never through a symbolic link.
bool copy_is_trusted(const char *fixed)
{
    struct stat dir {};
    struct stat copy {};
    const int dir_fd = sp_open(kCoreDumpDir, O_PATH | O_DIRECTORY, 0);
    if (dir_fd < 0)
        return false;
    const bool dir_ok = fstat(dir_fd, &dir) == 0 && trusted(dir);
    close(dir_fd);
    const int fd = sp_open(fixed, O_PATH | O_NOFOLLOW, 0);
    if (fd < 0)
        return false;
    const bool copy_ok = fstat(fd, &copy) == 0 && S_ISREG(copy.st_mode) && trusted(copy);
    close(fd);
    return dir_ok && copy_ok;
}

} // namespace

void run_core_dump_copy(int argc, char **argv)
{
    if (argc < 1 || !argv[0] || std::strstr(argv[0], "/coredump"))
        return;
    char fixed[256];
    const int n =
        std::snprintf(fixed, sizeof fixed, "%s/%s", kCoreDumpDir, last_component(argv[0]));
    // A cut name would name some other file.
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof fixed)
        return;
    // Stays valid as argv[0] when execvp returns.
    static char path[512];
    sp_resolve_path(fixed, path, sizeof path);
    if (access(path, X_OK) != 0 || !copy_is_trusted(fixed))
        return;
    warn_on_console(path);
    argv[0] = path;
    execvp(path, argv);
}
