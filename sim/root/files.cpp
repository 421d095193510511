#include "sim/root/files.hpp"

#include <cerrno>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvtsim::files {

namespace {

thread_local int write_error = 0;

bool write_all(int fd, const void *buffer, std::size_t len)
{
    const char *data = static_cast<const char *>(buffer);
    return move_all(
        len, [&](std::size_t done, std::size_t left) { return ::write(fd, data + done, left); });
}

// Records the failure of the current errno for last_write_error() and
// gives false; errno is left as it was.
bool failed()
{
    write_error = errno != 0 ? errno : EIO;
    errno = write_error;
    return false;
}

bool written()
{
    write_error = 0;
    return true;
}

// Writes the temporary and sets its mode; false with errno set. No sync:
// the rename is what other processes must see whole, and a simulated SP
// has nothing to keep over a power cut.
bool fill(int fd, const void *bytes, std::size_t len, mode_t mode)
{
    return write_all(fd, bytes, len) && ::fchmod(fd, mode) == 0;
}

bool replace_bytes(const std::string &path, const void *bytes, std::size_t len, mode_t mode)
{
    std::string temporary = path + ".new.XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return failed();
    bool ok = fill(fd, bytes, len, mode);
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (ok)
        return written();
    ::unlink(temporary.c_str());
    errno = error;
    return failed();
}

} // namespace

bool move_all(std::size_t size,
              const std::function<ssize_t(std::size_t done, std::size_t left)> &step)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool replace(const std::string &path, std::string_view bytes, mode_t mode)
{
    return replace_bytes(path, bytes.data(), bytes.size(), mode);
}

bool replace(const std::string &path, std::span<const unsigned char> bytes, mode_t mode)
{
    return replace_bytes(path, bytes.data(), bytes.size(), mode);
}

int last_write_error()
{
    return write_error;
}

int open_file(const std::string &path, int flags, mode_t mode)
{
    if ((flags & O_CREAT) != 0) {
        // Made here: its mode is set whatever the umask took from it.
        const int fd = ::open(path.c_str(), flags | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::fchmod(fd, mode);
            return fd;
        }
        if (errno != EEXIST || (flags & O_EXCL) != 0)
            return -1;
        flags &= ~O_CREAT;
    }
    return ::open(path.c_str(), flags | O_CLOEXEC);
}

bool make_dirs(const std::string &dir)
{
    struct stat st {};
    if (dir.empty())
        return true;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        errno = ENOTDIR;
        return false;
    }
    const std::size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !make_dirs(dir.substr(0, slash)))
        return false;
    if (::mkdir(dir.c_str(), kDirMode) != 0)
        return errno == EEXIST;
    // mkdir's mode passed through the umask.
    return ::chmod(dir.c_str(), kDirMode) == 0;
}

bool append_line(const std::string &path, const std::string &line)
{
    const int fd = open_file(path, O_WRONLY | O_CREAT | O_APPEND);
    if (fd < 0)
        return failed();
    const std::string whole = line + "\n";
    const bool ok = write_all(fd, whole.data(), whole.size());
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok ? written() : failed();
}

std::vector<std::string> lines(const std::string &path)
{
    std::vector<std::string> result;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

bool exists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

std::string word(const std::string &path, const std::string &fallback)
{
    const auto text = read(path);
    if (!text)
        return fallback;
    std::istringstream in(*text);
    std::string first;
    if (!(in >> first))
        return fallback;
    return first;
}

} // namespace kvtsim::files
