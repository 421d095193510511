// The daemon's own file operations on the simulated SP: each fixed path is
// opened under the root, one directory at a time, and no symbolic link is
// followed on the way, so a link planted in the root cannot send a write
// elsewhere. A link at the path itself is for the daemon to look at
// (sp_lstat, sp_readlink); the path it names is a fixed path again, so it
// never leads out of the root. Faults "file.open:<fixed path>", "file.write", "file.fsync",
// "file.close" and "file.rename" make a step fail with their errno;
// "file.write_short" makes a write take at most its value in bytes.
#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/util.h"
#include "sim/control.hpp"
#include "sim/faults/fault_errno.hpp"
#include "sim/root/files.hpp"

namespace {

// A descriptor of the directory that holds the last component of `fixed`
// (e.g. "<root>/var/log" for "/var/log/kvtd.log"), and that component.
struct Parent {
    int fd = -1;
    std::string name;

    Parent() = default;
    Parent(const Parent &) = delete;
    Parent &operator=(const Parent &) = delete;
    ~Parent()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool plain_component(const std::string &component)
{
    return !component.empty() && component != "." && component != "..";
}

constexpr int kDirFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The walk's own descriptors stay off 0 to 2, so that the file opened at
// its end takes the lowest free descriptor, as it would on an SP (a daemon
// started with standard input closed gets 0 for its first file).
int off_stdio(int fd)
{
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

bool step_into(int &fd, const std::string &component)
{
    const int next = off_stdio(::openat(fd, component.c_str(), kDirFlags));
    ::close(fd);
    fd = next;
    return fd >= 0;
}

// Walks from the root to the parent of `fixed`; false with errno set when
// the root is refused, a component is no directory or is a link, or the
// path is not a plain absolute one.
bool open_parent(const char *fixed, Parent &parent)
{
    const std::string dir = kvtsim::configured_root();
    if (kvtsim::root() != dir) {
        struct stat st {};
        errno = ::lstat(dir.c_str(), &st) != 0 ? errno : EACCES; // a missing root says so
        return false;
    }
    std::string_view rest = fixed ? fixed : "";
    if (!rest.starts_with('/') || rest.ends_with('/')) {
        errno = EINVAL;
        return false;
    }
    parent.fd = off_stdio(::open(dir.c_str(), kDirFlags));
    if (parent.fd < 0)
        return false;
    rest.remove_prefix(1);
    for (auto slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
        const std::string component(rest.substr(0, slash));
        if (!plain_component(component)) {
            errno = EINVAL;
            return false;
        }
        if (!step_into(parent.fd, component))
            return false;
        rest.remove_prefix(slash + 1);
    }
    parent.name = rest;
    if (!plain_component(parent.name)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

} // namespace

extern "C" {

int sp_open(const char *fixed_path, int flags, mode_t mode)
{
    if (kvtsim::fault_sets_errno(std::string("file.open:") + (fixed_path ? fixed_path : "")))
        return -1;
    Parent parent;
    if (!open_parent(fixed_path, parent))
        return -1;
    return ::openat(parent.fd, parent.name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

ssize_t sp_write(int fd, const void *data, size_t len)
{
    if (kvtsim::fault_sets_errno("file.write"))
        return -1;
    long most = 0;
    if (kvtsim::fault_fires("file.write_short", &most))
        len = std::min(len, static_cast<size_t>(std::max(most, 0L)));
    return ::write(fd, data, len);
}

int sp_fsync(int fd)
{
    if (kvtsim::fault_sets_errno("file.fsync"))
        return -1;
    return ::fsync(fd);
}

// A failed close still releases the descriptor, as close(2) does.
int sp_close(int fd)
{
    const int result = ::close(fd);
    if (kvtsim::fault_sets_errno("file.close"))
        return -1;
    return result;
}

int sp_rename(const char *fixed_from, const char *fixed_to)
{
    if (kvtsim::fault_sets_errno("file.rename"))
        return -1;
    Parent from;
    Parent to;
    if (!open_parent(fixed_from, from) || !open_parent(fixed_to, to))
        return -1;
    return ::renameat(from.fd, from.name.c_str(), to.fd, to.name.c_str());
}

int sp_lstat(const char *fixed_path, struct stat *st)
{
    if (fixed_path != nullptr && std::string_view(fixed_path) == "/") {
        const std::string dir = kvtsim::configured_root();
        if (kvtsim::root() != dir) {
            errno = EACCES;
            return -1;
        }
        return ::lstat(dir.c_str(), st);
    }
    Parent parent;
    if (!open_parent(fixed_path, parent))
        return -1;
    return ::fstatat(parent.fd, parent.name.c_str(), st, AT_SYMLINK_NOFOLLOW);
}

ssize_t sp_readlink(const char *fixed_path, char *buf, size_t len)
{
    Parent parent;
    if (!open_parent(fixed_path, parent))
        return -1;
    return ::readlinkat(parent.fd, parent.name.c_str(), buf, len);
}

int sp_unlink(const char *fixed_path)
{
    Parent parent;
    if (!open_parent(fixed_path, parent))
        return -1;
    return ::unlinkat(parent.fd, parent.name.c_str(), 0);
}

} // extern "C"

// Most calls find the file there: one open.
int kvtsim::files::open_in_root(const char *fixed_path, int flags, mode_t mode)
{
    int fd = sp_open(fixed_path, flags, 0);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    fd = sp_open(fixed_path, flags | O_CREAT | O_EXCL, mode);
    if (fd >= 0) {
        ::fchmod(fd, mode);
        return fd;
    }
    return errno == EEXIST ? sp_open(fixed_path, flags, 0) : -1;
}
