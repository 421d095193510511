// The I2C transfer seam: the card's part is reached by combined transfers
// of write and read messages, as Linux's I2C_RDWR runs them. On a board
// the bus is /dev/i2c-N (cardlib/i2c_dev_bus.cpp, only the ioctls); the
// simulated SP puts its model of the card's EEPROM behind the same seam,
// so the code above it is the code that runs on hardware.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace cardlib {

struct I2cMessage {
    std::uint16_t address = 0; // 7-bit device address
    bool read = false;
    std::span<unsigned char> bytes; // sent by a write, filled by a read
};

// The kernel's i2c-dev refuses a longer message (I2C_RDWR).
inline constexpr std::size_t kKernelMaxMessage = 8192;

// What the adapter under the bus says of itself.
struct Adapter {
    std::string name;      // the kernel's name of the adapter, e.g. "1e78a080.i2c-bus"
    bool plain_i2c = true; // false: an SMBus-only adapter, which runs no I2C_RDWR
    std::size_t max_message = kKernelMaxMessage;
};

// How long a part may stay busy (no acknowledge while it programs a page:
// tWR is 5 ms typical, 10 ms at most on the slowest 24C parts) and how
// often to ask meanwhile: every 1 ms for up to 25 ms, the pace and bound of
// the Linux at24 driver. A transfer while no write cycle of this process
// can be running is tried `idle_tries` times: an absent card then costs two
// transfers, not one per poll.
struct BusyWait {
    std::chrono::microseconds poll_interval{1000};
    std::chrono::microseconds give_up_after{25000};
    int idle_tries = 2;
};

class I2cBus {
  public:
    virtual ~I2cBus() = default;

    // The messages as one transfer: a start, each message behind a
    // (repeated) start, one stop at the end. 0, or -1 with errno as the
    // adapter reports it: ENXIO (EREMOTEIO, EIO or ETIMEDOUT on some
    // adapters) when nothing acknowledges, EOPNOTSUPP for a message longer
    // than the adapter takes, EMSGSIZE for one longer than the kernel takes.
    virtual int transfer(std::span<const I2cMessage> messages) = 0;

    virtual BusyWait busy_wait() const { return {}; }

    // The adapter's name and abilities; nullopt with errno when it cannot
    // be asked (the adapter is not there).
    virtual std::optional<Adapter> adapter() { return Adapter{}; }
};

// True for the errors an adapter gives when the device did not acknowledge.
bool not_acknowledged(int error);

// True for the errors that mean a part in its write cycle: a missing
// acknowledge, or what some adapters report for it (EIO, ETIMEDOUT).
bool busy_in_write_cycle(int error);

// Marks a write cycle begun now: until the bus's busy wait has passed, an
// unacknowledged transfer on any bus of this process is asked again at the
// poll interval instead of `idle_tries` times.
void write_cycle_begun(const I2cBus &bus);
// True until the busy wait of the last write cycle begun has passed.
bool write_cycle_running();

// Runs the transfer, asking again while the device does not acknowledge (a
// part in its write cycle), until it does or the bus's busy wait has
// passed. 0, or -1 with the last errno.
int transfer_when_ready(I2cBus &bus, std::span<const I2cMessage> messages);

// "" for an adapter that runs the card's transfers, else why not, naming
// the adapter: an SMBus-only adapter runs no combined transfers.
std::string adapter_problem(const std::string &bus_name, const Adapter &adapter);

// The adapter's system calls: open(2) and ioctl(2) on a board; a test
// gives its own, as an adapter that misbehaves is not at hand.
struct AdapterAccess {
    int (*open)(const char *path, int flags);
    int (*ioctl)(int fd, unsigned long request, void *arg);
};
const AdapterAccess &system_adapter_access();

// The adapter /dev/i2c-N, opened on first use.
std::unique_ptr<I2cBus> i2c_dev_bus(const std::string &path);
std::unique_ptr<I2cBus> i2c_dev_bus(const std::string &path, const AdapterAccess &access);

// The bus on which the card monitor reads the card's header
// (i2c_writeread): the card is device 0x53 there, wherever the board
// keeps it. Defined by the board, beside board_card_device().
I2cBus &board_card_bus();

} // namespace cardlib
