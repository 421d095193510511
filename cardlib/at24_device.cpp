#include "cardlib/at24_device.hpp"

#include <cerrno>
#include <functional>

#include <fcntl.h>
#include <unistd.h>

namespace cardlib {

namespace {

bool no_card(int error)
{
    return error == ETIMEDOUT || error == ENOENT || error == ENODEV || error == ENXIO;
}

int system_open(const char *path, int flags)
{
    return ::open(path, flags);
}

// Opens `path` (for each access: the file goes away when the driver
// unbinds) and calls `step(fd, done)`, a pread or pwrite of what is left
// after `done` bytes, until `len` bytes have moved. 0, or -1 with errno.
int move_all(const FileAccess &files, const std::string &path, int flags, std::size_t len,
             const std::function<ssize_t(int fd, std::size_t done)> &step)
{
    const int fd = files.open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int result = 0;
    for (std::size_t done = 0; done < len;) {
        const ssize_t moved = step(fd, done);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0) {
            if (moved == 0)
                errno = EIO; // the file ends before the part does
            result = -1;
            break;
        }
        done += static_cast<std::size_t>(moved);
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return result;
}

} // namespace

const FileAccess &system_file_access()
{
    static const FileAccess access{system_open, ::pread, ::pwrite};
    return access;
}

bool At24Device::in_part(std::size_t address, std::size_t len) const
{
    if (address <= part_.size && len <= part_.size - address)
        return true;
    errno = EINVAL;
    return false;
}

int At24Device::finish(int result)
{
    if (result == 0)
        return 0;
    missed_ = true;
    if (no_card(errno))
        errno = ENXIO;
    return result;
}

int At24Device::read(std::size_t address, std::span<unsigned char> out)
{
    if (!in_part(address, out.size()))
        return -1;
    return finish(move_all(files_, path_, O_RDONLY, out.size(), [&](int fd, std::size_t done) {
        return files_.pread(fd, out.data() + done, out.size() - done,
                            static_cast<off_t>(address + done));
    }));
}

// One page at a time, as the device contract has it, although the driver
// would split a longer write itself.
int At24Device::program(std::size_t address, std::span<const unsigned char> bytes)
{
    const bool one_page =
        bytes.empty() || address / part_.page == (address + bytes.size() - 1) / part_.page;
    if (!one_page) {
        errno = EINVAL;
        return -1;
    }
    if (!in_part(address, bytes.size()))
        return -1;
    return finish(move_all(files_, path_, O_WRONLY, bytes.size(), [&](int fd, std::size_t done) {
        return files_.pwrite(fd, bytes.data() + done, bytes.size() - done,
                             static_cast<off_t>(address + done));
    }));
}

bool At24Device::present()
{
    unsigned char byte = 0;
    return read(0, std::span(&byte, 1)) == 0;
}

bool At24Device::card_changed()
{
    return missed_.exchange(false);
}

} // namespace cardlib
