#include "sim/eeprom.hpp"

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "sim/card_io.hpp"
#include "sim/control.hpp"

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

int pread_all(int fd, std::size_t address, unsigned char *data, std::size_t len)
{
    return transferred(::pread(fd, data, len, static_cast<off_t>(address)), len);
}

// One page write: device address, two address bytes, the data, one write cycle.
int program(int fd, std::size_t address, const unsigned char *data, std::size_t len, CardIo &tally)
{
    if (transferred(::pwrite(fd, data, len, static_cast<off_t>(address)), len) != 0)
        return -1;
    ++tally.pages_programmed;
    tally.bytes_written += len;
    return 0;
}

// The part of [address, end) that lies in the page holding `address`.
std::size_t page_piece(std::size_t address, std::size_t end)
{
    return std::min(end, (address / kPageSize + 1) * kPageSize) - address;
}

int program_all(int fd, std::size_t address, const unsigned char *data, std::size_t len,
                CardIo &tally)
{
    for (std::size_t done = 0; done < len;) {
        const std::size_t piece = page_piece(address + done, address + len);
        if (program(fd, address + done, data + done, piece, tally) != 0)
            return -1;
        done += piece;
    }
    return 0;
}

// `old` holds the part's bytes of the range, read just before: never a
// copy kept from an earlier write, since the card may have been swapped.
int program_changed(int fd, std::size_t address, const unsigned char *data,
                    const unsigned char *old, std::size_t len, CardIo &tally)
{
    for (std::size_t done = 0; done < len;) {
        const std::size_t piece = page_piece(address + done, address + len);
        std::size_t first = done;
        while (first < done + piece && data[first] == old[first])
            ++first;
        std::size_t last = done + piece;
        while (last > first && data[last - 1] == old[last - 1])
            --last;
        if (first < last && program(fd, address + first, data + first, last - first, tally) != 0)
            return -1;
        done += piece;
    }
    return 0;
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
    return finish(fd, pread_all(fd, address, data, len));
}

int read(std::size_t address, unsigned char *data, std::size_t len)
{
    const int result = peek(address, data, len);
    if (result == 0)
        card_io_add(CardIo{.reads = 1, .bytes_read = len});
    return result;
}

// The caller records `tally` (pages and bytes programmed, the read of the
// changed mode) with the rest of its accounting, also after a failure.
int write(std::size_t address, const unsigned char *data, std::size_t len, WriteMode mode,
          CardIo &tally)
{
    if (!in_part(address, len)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = open_part(O_RDWR);
    if (fd < 0)
        return -1;
    if (mode == WriteMode::all)
        return finish(fd, program_all(fd, address, data, len, tally));
    std::vector<unsigned char> old(len);
    if (pread_all(fd, address, old.data(), len) != 0)
        return finish(fd, -1);
    ++tally.reads;
    tally.bytes_read += len;
    return finish(fd, program_changed(fd, address, data, old.data(), len, tally));
}

} // namespace kvtsim::eeprom
