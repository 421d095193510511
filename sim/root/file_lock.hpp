// flock() on a file, held for the object's lifetime: the simulated SP's
// files that several processes change are read and written under one.
#pragma once

#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "sim/root/files.hpp"

namespace kvtsim {

class FileLock {
  public:
    // Opens (creating) `path` and takes the lock; `operation` is LOCK_SH or
    // LOCK_EX. A file that cannot be opened leaves fd() negative.
    FileLock(const std::string &path, int operation) : fd_(files::open_file(path, O_RDWR | O_CREAT))
    {
        if (fd_ >= 0)
            ::flock(fd_, operation);
    }
    ~FileLock()
    {
        if (fd_ >= 0)
            ::close(fd_); // closing drops the lock
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    int fd() const { return fd_; }

  private:
    int fd_;
};

} // namespace kvtsim
