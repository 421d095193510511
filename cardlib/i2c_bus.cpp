#include "cardlib/i2c_bus.hpp"

#include <cerrno>
#include <mutex>
#include <thread>

namespace cardlib {

namespace {

using Clock = std::chrono::steady_clock;

// The end of the busy wait of the last write cycle this process began.
// Shared by every bus: the card monitor's header read may meet a page write
// of the delivery thread. A lock rather than a 64-bit atomic, which 32-bit
// SPs only have through libatomic.
struct WriteCycle {
    std::mutex lock;
    Clock::time_point until{};
};

WriteCycle &write_cycle()
{
    static WriteCycle cycle;
    return cycle;
}

} // namespace

bool not_acknowledged(int error)
{
    return error == ENXIO || error == EREMOTEIO;
}

bool busy_in_write_cycle(int error)
{
    return not_acknowledged(error) || error == EIO || error == ETIMEDOUT;
}

void write_cycle_begun(const I2cBus &bus)
{
    const auto wait = std::chrono::nanoseconds(bus.busy_wait().give_up_after);
    WriteCycle &cycle = write_cycle();
    const std::lock_guard guard(cycle.lock);
    cycle.until = Clock::now() + std::chrono::duration_cast<Clock::duration>(wait);
}

bool write_cycle_running()
{
    WriteCycle &cycle = write_cycle();
    const std::lock_guard guard(cycle.lock);
    return Clock::now() < cycle.until;
}

// Acknowledge polling: the part ignores its address until its write cycle
// is over, so the first try after a page write usually fails. Only a try
// that began after the write cycle's bound ends the wait: a process held
// up past it still asks once more. Without a write cycle of ours a silent
// part is most likely an empty slot, asked again only `idle_tries` times.
int transfer_when_ready(I2cBus &bus, std::span<const I2cMessage> messages)
{
    const BusyWait wait = bus.busy_wait();
    for (int tries = 1;; ++tries) {
        const bool in_cycle = write_cycle_running();
        const bool last_try = !in_cycle && tries >= wait.idle_tries;
        if (bus.transfer(messages) == 0)
            return 0;
        const int error = errno;
        const bool busy = in_cycle ? busy_in_write_cycle(error) : not_acknowledged(error);
        if (!busy || last_try) {
            errno = error;
            return -1;
        }
        std::this_thread::sleep_for(wait.poll_interval);
    }
}

std::string adapter_problem(const std::string &bus_name, const Adapter &adapter)
{
    if (adapter.plain_i2c)
        return {};
    return bus_name + ": adapter \"" + adapter.name +
           "\" is SMBus-only (no I2C_FUNC_I2C): it runs no I2C_RDWR transfer; bind the at24 "
           "driver to the card and name its eeprom file";
}

} // namespace cardlib
