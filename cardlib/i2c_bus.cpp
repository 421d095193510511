#include "cardlib/i2c_bus.hpp"

#include <cerrno>
#include <thread>

namespace cardlib {

bool not_acknowledged(int error)
{
    return error == ENXIO || error == EREMOTEIO;
}

// Acknowledge polling: the part ignores its address until its write
// cycle is over, so the first try after a page write usually fails. Only
// a try that began after the deadline ends the wait: a process held up
// past the deadline still asks once more.
int transfer_when_ready(I2cBus &bus, std::span<const I2cMessage> messages)
{
    const BusyWait wait = bus.busy_wait();
    const auto deadline = std::chrono::steady_clock::now() + wait.give_up_after;
    for (;;) {
        const bool last_try = std::chrono::steady_clock::now() >= deadline;
        if (bus.transfer(messages) == 0)
            return 0;
        const int error = errno;
        if (!not_acknowledged(error) || last_try) {
            errno = error;
            return -1;
        }
        std::this_thread::sleep_for(wait.poll_interval);
    }
}

} // namespace cardlib
