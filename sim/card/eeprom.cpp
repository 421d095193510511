#include "sim/card/eeprom.hpp"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "sim/control.hpp"
#include "sim/root/files.hpp"

namespace kvtsim::eeprom {

std::string path()
{
    return sim_path("card/eeprom.bin");
}

std::string pulled_path()
{
    return sim_path("card/pulled.bin");
}

namespace {

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

// 0 when the transfer moved `len` bytes, else -1 with errno.
int transferred(ssize_t done, std::size_t len)
{
    if (done >= 0 && static_cast<std::size_t>(done) == len)
        return 0;
    if (done >= 0)
        errno = EIO;
    return -1;
}

int finish(int fd, int result)
{
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return result;
}

std::string generation_path()
{
    return sim_path("card/generation");
}

} // namespace

int peek(std::size_t address, unsigned char *data, std::size_t len)
{
    if (!in_part(address, len)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = open_part(O_RDONLY);
    if (fd < 0)
        return -1;
    return finish(fd, transferred(::pread(fd, data, len, static_cast<off_t>(address)), len));
}

int poke(std::size_t address, const unsigned char *data, std::size_t len)
{
    if (!in_part(address, len)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = open_part(O_RDWR);
    if (fd < 0)
        return -1;
    return finish(fd, transferred(::pwrite(fd, data, len, static_cast<off_t>(address)), len));
}

std::uint64_t generation()
{
    const auto text = files::read(generation_path());
    return text ? std::strtoull(text->c_str(), nullptr, 10) : 0;
}

// From the clock, so that a root made afresh at the same path never
// repeats an earlier generation.
void new_generation()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto value = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    files::replace(generation_path(),
                   std::to_string(value > generation() ? value : generation() + 1));
}

} // namespace kvtsim::eeprom
