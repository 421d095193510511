#include "sim/eeprom.hpp"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "sim/control.hpp"

namespace kvtsim::eeprom
{

std::string path()
{
    return sim_path("card/eeprom.bin");
}

std::string pulled_path()
{
    return sim_path("card/pulled.bin");
}

namespace
{

bool in_part(std::size_t address, std::size_t len)
{
    return address <= kEepromSize && len <= kEepromSize - address;
}

// An absent part does not acknowledge its address on the bus.
int open_part(int flags)
{
    const int fd = ::open(path().c_str(), flags | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        errno = ENXIO;
    return fd;
}

int finish(int fd, ssize_t done, std::size_t len)
{
    const int saved = errno;
    ::close(fd);
    if (done < 0) {
        errno = saved;
        return -1;
    }
    if (static_cast<std::size_t>(done) != len) {
        errno = EIO;
        return -1;
    }
    return 0;
}

} // namespace

int read(std::size_t address, unsigned char *data, std::size_t len)
{
    if (!in_part(address, len)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = open_part(O_RDONLY);
    if (fd < 0)
        return -1;
    return finish(fd, ::pread(fd, data, len, static_cast<off_t>(address)), len);
}

int write(std::size_t address, const unsigned char *data, std::size_t len)
{
    if (!in_part(address, len)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = open_part(O_WRONLY);
    if (fd < 0)
        return -1;
    return finish(fd, ::pwrite(fd, data, len, static_cast<off_t>(address)), len);
}

} // namespace kvtsim::eeprom
