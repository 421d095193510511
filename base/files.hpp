// The daemon's files at their fixed paths, opened through the platform
// (which on the simulated SP keeps them under its root).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <sys/types.h>

namespace kvt {

// The file for reading as a stream, or null with errno set.
std::FILE *open_for_reading(const char *fixed_path);

// The step of a whole-file replacement that failed; `refused`: a link at
// the path that is not followed (link_refusal).
enum class ReplaceStep { none, refused, open, write, fsync, chown, chmod, close, rename };

struct ReplaceResult {
    ReplaceStep failed = ReplaceStep::none;
    int ret = 0;     // what the failed call returned
    int error = 0;   // its errno (0 for a refusal)
    std::string why; // a refusal's reason
};

// Why a symbolic link may not be followed, or nullptr when it may: someone
// other than root, the file's owner (`owner`) or the daemon's own user
// (`self`) could have placed it. That is, the link or its directory is
// owned by another user, or its directory is writable by group or others
// without the sticky bit.
const char *link_refusal(const struct stat &link, const struct stat &directory, uid_t owner,
                         uid_t self);

// Replaces a file whole, or leaves it as it was. A symbolic link at the
// path (an /etc that links its files into a writable partition) is followed,
// through at most 8 links each allowed by link_refusal, and the file it
// leads to is replaced in its own directory; the link stays. The new
// contents go to a temporary beside that file ("<file>.new", removed first
// and created afresh), which is written, given the owner, group and mode of
// the file it replaces, synced and closed, every step checked, and then
// renamed over the file. A file that does not exist yet is made with
// `create_mode` as open(2) makes it: the umask applies. Without a commit, or
// after a failed step, the temporary is removed again and the old file stays.
class FileReplacement {
  public:
    FileReplacement(const char *fixed_path, mode_t create_mode);
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    // The temporary could be created; otherwise open_result() says why.
    bool opened() const { return fd_ >= 0; }
    const ReplaceResult &open_result() const { return open_result_; }
    // The file replaced: the path, or where its links lead.
    const std::string &target() const { return target_; }

    // Adds to the new contents. A failure gives the replacement up.
    ReplaceResult write(std::string_view text);
    ReplaceResult commit();
    ReplaceResult commit(std::string_view contents);

  private:
    ReplaceResult finish();
    ReplaceResult give_up(ReplaceResult result);
    ReplaceResult given_up() const;
    void discard();

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    bool exists_ = false; // a file is replaced, not made
    struct stat old_ {};
    bool done_ = false;
    ReplaceResult open_result_;
};

// "open", "write", ... for log lines.
const char *step_name(ReplaceStep step);
// "<step>: <strerror>", or a refusal's reason.
std::string describe(const ReplaceResult &result);

} // namespace kvt
