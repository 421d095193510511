// The daemon's files at their fixed paths, opened through the platform
// (which on the simulated SP keeps them under its root).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace kvt {

// The file for reading as a stream, or null with errno set.
std::FILE *open_for_reading(const char *fixed_path);

// The step of a whole-file replacement that failed.
enum class ReplaceStep { none, open, write, fsync, close, rename };

struct ReplaceResult {
    ReplaceStep failed = ReplaceStep::none;
    int error = 0; // errno of the failed step
};

// Replaces a file whole, or leaves it as it was: the new contents go to a
// temporary file beside it ("<path>.new", created afresh with the mode
// given), which is written, synced and closed, every step checked, and then
// renamed over the file. Without a commit, or after a failed one, the
// temporary is removed again.
class FileReplacement {
  public:
    FileReplacement(const char *fixed_path, mode_t mode);
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    // The temporary could be created; otherwise open_result() says why.
    bool opened() const { return fd_ >= 0; }
    ReplaceResult open_result() const { return open_result_; }

    ReplaceResult commit(std::string_view contents);

  private:
    ReplaceResult finish(std::string_view contents);
    void discard();

    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    bool done_ = false;
    ReplaceResult open_result_;
};

// "open", "write", ... for log lines.
const char *step_name(ReplaceStep step);

} // namespace kvt
