#include "service/card_keep.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/util.h"

namespace kvt {

namespace {

std::string resolved(const std::string &fixed)
{
    char out[4096];
    return sp_resolve_path(fixed.c_str(), out, sizeof out);
}

std::string kept_path(int n)
{
    return resolved(std::string(kKeptCardDirectory) + "/" + kKeptCardName + "." +
                    std::to_string(n) + ".bin");
}

bool write_whole(int fd, const unsigned char *bytes, std::size_t len)
{
    while (len > 0) {
        const ssize_t done = ::write(fd, bytes, len);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        len -= static_cast<std::size_t>(done);
    }
    return true;
}

// The image in a file of its own, synced, under `temp`. False with errno.
bool write_temp(const std::string &temp, const Image &image)
{
    const int fd =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const auto bytes = image_bytes(image);
    bool ok = write_whole(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    const int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok && saved != 0)
        errno = saved;
    return ok;
}

void shift_older()
{
    for (int n = kKeptCards - 1; n >= 1; --n)
        std::rename(kept_path(n).c_str(), kept_path(n + 1).c_str());
}

} // namespace

KeptCard keep_overwritten_card(const Image &image)
{
    KeptCard result;
    result.path = kept_path(1);
    const std::string directory = resolved(kKeptCardDirectory);
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        result.error = std::strerror(errno);
        return result;
    }
    const std::string temp = result.path + ".new";
    if (!write_temp(temp, image)) {
        result.error = std::strerror(errno);
        ::unlink(temp.c_str());
        return result;
    }
    shift_older();
    if (std::rename(temp.c_str(), result.path.c_str()) != 0) {
        result.error = std::strerror(errno);
        ::unlink(temp.c_str());
        return result;
    }
    result.kept = true;
    return result;
}

} // namespace kvt
