#include "base/files.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/util.h"

namespace kvt {

namespace {

constexpr int kMaxLinks = 8;
// The temporary is the daemon's alone until it takes the old file's mode.
constexpr mode_t kTemporaryMode = 0600;

// Writes all of `contents`, going on after a write cut short; a write that
// takes nothing fails with what it returned, 0.
ReplaceResult write_all(int fd, std::string_view contents)
{
    while (!contents.empty()) {
        const ssize_t n = sp_write(fd, contents.data(), contents.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {ReplaceStep::write, static_cast<int>(n), n < 0 ? errno : EIO, {}};
        contents.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

ReplaceResult failed(ReplaceStep step, int ret)
{
    return {step, ret, errno, {}};
}

ReplaceResult refused(std::string why)
{
    return {ReplaceStep::refused, -1, 0, std::move(why)};
}

std::string directory_of(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// `target` of a link in `directory`, as a plain absolute path: "." and ".."
// taken lexically, as the daemon's fixed paths have no links on the way.
std::string link_path(const std::string &directory, const std::string &target)
{
    const std::string joined = target.starts_with('/') ? target : directory + "/" + target;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= joined.size()) {
        const std::size_t end = std::min(joined.find('/', start), joined.size());
        const std::string part = joined.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string path;
    for (const std::string &part : parts)
        path += "/" + part;
    return path.empty() ? "/" : path;
}

// A link on the way to the file, with its directory.
struct LinkSeen {
    std::string path;
    struct stat link {};
    struct stat directory {};
};

// Where the path leads; `links` are the links on the way. An empty result
// with `why` set when it leads nowhere a file can be replaced.
struct Resolved {
    std::string target;
    bool exists = false;
    struct stat file {};
    std::vector<LinkSeen> links;
    int error = 0;   // the path could not be looked at
    std::string why; // it leads to no regular file
};

bool step_through_link(Resolved &resolved, const struct stat &st)
{
    LinkSeen seen{resolved.target, st, {}};
    const std::string directory = directory_of(resolved.target);
    char text[4096];
    const ssize_t n = sp_readlink(resolved.target.c_str(), text, sizeof text - 1);
    if (sp_lstat(directory.c_str(), &seen.directory) != 0 || n <= 0) {
        resolved.error = n == 0 ? ENOENT : errno;
        return false;
    }
    resolved.links.push_back(seen);
    resolved.target = link_path(directory, std::string(text, static_cast<std::size_t>(n)));
    return true;
}

Resolved resolve(const char *fixed_path)
{
    Resolved resolved;
    resolved.target = fixed_path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat st {};
        if (sp_lstat(resolved.target.c_str(), &st) != 0) {
            if (errno != ENOENT)
                resolved.error = errno;
            return resolved;
        }
        if (S_ISREG(st.st_mode)) {
            resolved.exists = true;
            resolved.file = st;
            return resolved;
        }
        if (!S_ISLNK(st.st_mode)) {
            resolved.why = resolved.target + " is not a regular file";
            return resolved;
        }
        if (!step_through_link(resolved, st))
            return resolved;
    }
    resolved.why = std::string(fixed_path) + ": more than 8 links on the way";
    return resolved;
}

// The first link on the way that may not be followed, said with its path.
std::string refusal_of(const Resolved &resolved)
{
    const uid_t self = geteuid();
    const uid_t owner = resolved.exists ? resolved.file.st_uid : self;
    for (const LinkSeen &seen : resolved.links)
        if (const char *why = link_refusal(seen.link, seen.directory, owner, self))
            return "the link " + seen.path + " is not followed: " + why;
    return {};
}

} // namespace

const char *link_refusal(const struct stat &link, const struct stat &directory, uid_t owner,
                         uid_t self)
{
    const auto trusted = [&](uid_t uid) { return uid == 0 || uid == owner || uid == self; };
    if (!trusted(link.st_uid))
        return "it is owned by another user";
    if (!trusted(directory.st_uid))
        return "its directory is owned by another user";
    const bool others_write = (directory.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (others_write && (directory.st_mode & S_ISVTX) == 0)
        return "its directory is writable by group or others";
    return nullptr;
}

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

FileReplacement::FileReplacement(const char *fixed_path, mode_t create_mode)
{
    Resolved resolved = resolve(fixed_path);
    done_ = true;
    if (resolved.error != 0) {
        open_result_ = {ReplaceStep::open, -1, resolved.error, {}};
        return;
    }
    std::string why = resolved.why.empty() ? refusal_of(resolved) : resolved.why;
    if (!why.empty()) {
        open_result_ = refused(std::move(why));
        return;
    }
    done_ = false;
    target_ = resolved.target;
    exists_ = resolved.exists;
    old_ = resolved.file;
    temporary_ = target_ + ".new";
    // Removed first: a file left by an earlier failure, or planted, could be
    // a link to some other file that the write would then change.
    sp_unlink(temporary_.c_str());
    fd_ = sp_open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL,
                  exists_ ? kTemporaryMode : create_mode);
    if (fd_ < 0) {
        open_result_ = failed(ReplaceStep::open, fd_);
        done_ = true;
    }
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

ReplaceResult FileReplacement::give_up(ReplaceResult result)
{
    discard();
    return result;
}

// After a failed step the replacement is over: nothing more is written.
ReplaceResult FileReplacement::given_up() const
{
    if (open_result_.failed != ReplaceStep::none)
        return open_result_;
    return {ReplaceStep::write, -1, EBADF, {}};
}

ReplaceResult FileReplacement::write(std::string_view text)
{
    if (!opened())
        return given_up();
    ReplaceResult result = write_all(fd_, text);
    if (result.failed != ReplaceStep::none)
        return give_up(std::move(result));
    return result;
}

ReplaceResult FileReplacement::commit(std::string_view contents)
{
    ReplaceResult written = write(contents);
    if (written.failed != ReplaceStep::none)
        return written;
    return commit();
}

ReplaceResult FileReplacement::commit()
{
    if (!opened())
        return given_up();
    ReplaceResult result = finish();
    if (result.failed != ReplaceStep::none)
        return give_up(std::move(result));
    done_ = true;
    // A file that no longer lies in the directory is lost if the power goes
    // before the directory reaches the disk; a failure here changes nothing
    // the daemon could act on.
    const int dir = sp_open(directory_of(target_).c_str(), O_RDONLY | O_DIRECTORY, 0);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return result;
}

// The administrator's owner, group and mode, set on the temporary before it
// takes the file's place; the owner first, as a change of owner clears the
// set-id bits.
ReplaceResult FileReplacement::finish()
{
    if (exists_) {
        struct stat now {};
        const bool same_owner =
            fstat(fd_, &now) == 0 && now.st_uid == old_.st_uid && now.st_gid == old_.st_gid;
        if (!same_owner) {
            const int ret = fchown(fd_, old_.st_uid, old_.st_gid);
            if (ret != 0)
                return failed(ReplaceStep::chown, ret);
        }
        const int ret = fchmod(fd_, old_.st_mode & 07777);
        if (ret != 0)
            return failed(ReplaceStep::chmod, ret);
    }
    int ret = sp_fsync(fd_);
    if (ret != 0)
        return failed(ReplaceStep::fsync, ret);
    // A file system that delays its writes reports their failure here.
    ret = sp_close(fd_);
    fd_ = -1;
    if (ret != 0)
        return failed(ReplaceStep::close, ret);
    ret = sp_rename(temporary_.c_str(), target_.c_str());
    if (ret != 0)
        return failed(ReplaceStep::rename, ret);
    return {};
}

const char *step_name(ReplaceStep step)
{
    switch (step) {
    case ReplaceStep::none:
        return "none";
    case ReplaceStep::refused:
        return "link";
    case ReplaceStep::open:
        return "open";
    case ReplaceStep::write:
        return "write";
    case ReplaceStep::fsync:
        return "fsync";
    case ReplaceStep::chown:
        return "chown";
    case ReplaceStep::chmod:
        return "chmod";
    case ReplaceStep::close:
        return "close";
    case ReplaceStep::rename:
        return "rename";
    }
    return "?";
}

std::string describe(const ReplaceResult &result)
{
    if (result.failed == ReplaceStep::refused)
        return result.why;
    return std::string(step_name(result.failed)) + ": " + std::strerror(result.error);
}

} // namespace kvt
