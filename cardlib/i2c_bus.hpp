// The I2C transfer seam: the card's part is reached by combined transfers
// of write and read messages, as Linux's I2C_RDWR runs them. On a board
// the bus is /dev/i2c-N (cardlib/i2c_dev_bus.cpp, only the ioctl); the
// simulated SP puts its model of the card's EEPROM behind the same seam,
// so the code above it is the code that runs on hardware.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace cardlib {

struct I2cMessage {
    std::uint16_t address = 0; // 7-bit device address
    bool read = false;
    std::span<unsigned char> bytes; // sent by a write, filled by a read
};

// How long a part may stay busy (no acknowledge while it programs a page:
// tWR is 5 ms typical, 10 ms at most on the slowest 24C parts) and how
// often to ask meanwhile. 25 ms is also the Linux at24 driver's default.
struct BusyWait {
    std::chrono::microseconds poll_interval{200};
    std::chrono::microseconds give_up_after{25000};
};

class I2cBus {
  public:
    virtual ~I2cBus() = default;

    // The messages as one transfer: a start, each message behind a
    // (repeated) start, one stop at the end. 0, or -1 with errno as the
    // adapter reports it: ENXIO (EREMOTEIO on some adapters) when nothing
    // acknowledges, EIO and others for a failed transfer.
    virtual int transfer(std::span<const I2cMessage> messages) = 0;

    virtual BusyWait busy_wait() const { return {}; }
};

// True for the errors an adapter gives when the device did not acknowledge.
bool not_acknowledged(int error);

// Runs the transfer, asking again while the device does not acknowledge (a
// part in its write cycle), until it does or the bus's busy wait has
// passed. 0, or -1 with the last errno.
int transfer_when_ready(I2cBus &bus, std::span<const I2cMessage> messages);

// The adapter /dev/i2c-N, opened on first use.
std::unique_ptr<I2cBus> i2c_dev_bus(const std::string &path);

// The bus of the card slot, on which the card monitor reads the card's
// header (i2c_writeread). Defined by the board, beside board_card_device().
I2cBus &board_card_bus();

} // namespace cardlib
