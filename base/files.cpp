#include "base/files.hpp"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "platform/util.h"

namespace kvt {

namespace {

// Writes all of `contents`, going on after a write cut short.
bool write_all(int fd, std::string_view contents)
{
    while (!contents.empty()) {
        const ssize_t n = sp_write(fd, contents.data(), contents.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        contents.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

ReplaceResult failed(ReplaceStep step)
{
    return {step, errno};
}

// A file that no longer lies in the directory is lost if the power goes
// before the directory reaches the disk; a failure here changes nothing the
// daemon could act on.
void sync_directory_of(const std::string &path)
{
    const std::string dir = path.substr(0, path.rfind('/'));
    const int fd = sp_open(dir.empty() ? "/" : dir.c_str(), O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

} // namespace

std::FILE *open_for_reading(const char *fixed_path)
{
    const int fd = sp_open(fixed_path, O_RDONLY, 0);
    if (fd < 0)
        return nullptr;
    std::FILE *file = fdopen(fd, "r");
    if (!file) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

FileReplacement::FileReplacement(const char *fixed_path, mode_t mode)
    : path_(fixed_path), temporary_(path_ + ".new")
{
    // Removed first: a file left by an earlier failure, or planted, could be
    // a link to some other file that the write would then change.
    sp_unlink(temporary_.c_str());
    fd_ = sp_open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd_ < 0)
        open_result_ = failed(ReplaceStep::open);
}

FileReplacement::~FileReplacement()
{
    if (!done_)
        discard();
}

void FileReplacement::discard()
{
    done_ = true;
    if (fd_ >= 0)
        sp_close(fd_);
    fd_ = -1;
    sp_unlink(temporary_.c_str());
}

ReplaceResult FileReplacement::commit(std::string_view contents)
{
    if (!opened())
        return open_result_;
    const ReplaceResult result = finish(contents);
    if (result.failed != ReplaceStep::none) {
        discard();
        return result;
    }
    done_ = true;
    sync_directory_of(path_);
    return result;
}

ReplaceResult FileReplacement::finish(std::string_view contents)
{
    if (!write_all(fd_, contents))
        return failed(ReplaceStep::write);
    if (sp_fsync(fd_) != 0)
        return failed(ReplaceStep::fsync);
    // A file system that delays its writes reports their failure here.
    const int closed = sp_close(fd_);
    fd_ = -1;
    if (closed != 0)
        return failed(ReplaceStep::close);
    if (sp_rename(temporary_.c_str(), path_.c_str()) != 0)
        return failed(ReplaceStep::rename);
    return {};
}

const char *step_name(ReplaceStep step)
{
    switch (step) {
    case ReplaceStep::none:
        return "none";
    case ReplaceStep::open:
        return "open";
    case ReplaceStep::write:
        return "write";
    case ReplaceStep::fsync:
        return "fsync";
    case ReplaceStep::close:
        return "close";
    case ReplaceStep::rename:
        return "rename";
    }
    return "?";
}

} // namespace kvt
