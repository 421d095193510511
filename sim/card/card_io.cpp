// Card I/O counters: one line of four numbers in <root>/sim/card/io, updated
// under an exclusive lock so that the daemon, the tests and the tools on
// one root add to the same figures.
#include "sim/card/card_io.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "sim/root/file_lock.hpp"

namespace kvtsim {

namespace {

std::string counters_path()
{
    return sim_path("card/io");
}

CardIo parse(const char *text)
{
    CardIo io;
    if (std::sscanf(text, "%" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64, &io.pages_programmed,
                    &io.bytes_written, &io.reads, &io.bytes_read) != 4)
        return CardIo{};
    return io;
}

CardIo read_counters(int fd)
{
    char text[160] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    return got > 0 ? parse(text) : CardIo{};
}

void write_counters(int fd, const CardIo &io)
{
    char text[160];
    const int len =
        std::snprintf(text, sizeof text, "%" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 "\n",
                      io.pages_programmed, io.bytes_written, io.reads, io.bytes_read);
    if (len > 0 && ::pwrite(fd, text, static_cast<std::size_t>(len), 0) == len)
        (void)::ftruncate(fd, len);
}

// The counters file is its own lock.
class LockedCounters : public FileLock {
  public:
    LockedCounters() : FileLock(counters_path(), LOCK_EX) {}
};

} // namespace

void card_io_add(const CardIo &delta)
{
    LockedCounters counters;
    if (counters.fd() < 0)
        return;
    CardIo io = read_counters(counters.fd());
    io += delta;
    write_counters(counters.fd(), io);
}

CardIo card_io()
{
    LockedCounters counters;
    return counters.fd() < 0 ? CardIo{} : read_counters(counters.fd());
}

void card_io_reset()
{
    LockedCounters counters;
    if (counters.fd() >= 0)
        write_counters(counters.fd(), CardIo{});
}

double card_io_ms(const CardIo &io, unsigned bus_khz)
{
    constexpr double kWriteFrame = 9 * 3 + 2; // device, address high and low; start, stop
    constexpr double kReadFrame = 9 * 4 + 3;  // the same, device again; repeated start
    const double clocks = kWriteFrame * static_cast<double>(io.pages_programmed) +
                          9.0 * static_cast<double>(io.bytes_written) +
                          kReadFrame * static_cast<double>(io.reads) +
                          9.0 * static_cast<double>(io.bytes_read);
    return clocks / bus_khz + kPageWriteCycleMs * static_cast<double>(io.pages_programmed);
}

} // namespace kvtsim
