// The EEPROM device under the card library: the few things the library
// asks of the part that holds the card. A board provides one device for
// the card slot: the simulated SP's part, the kernel's at24 file or the
// part on an i2c-dev bus.
#pragma once

#include <cstddef>
#include <span>

namespace cardlib {

class EepromDevice {
  public:
    virtual ~EepromDevice() = default;

    virtual std::size_t part_size() const = 0; // bytes in the part
    virtual std::size_t page_size() const = 0; // bytes one write cycle programs at most

    // Sequential read of out.size() bytes from card address `address`.
    // 0, or -1 with errno: ENXIO when no card answers, EIO for a transfer
    // cut short, EINVAL for a range outside the part.
    virtual int read(std::size_t address, std::span<unsigned char> out) = 0;

    // One page write: every byte lies in the page holding `address`. Returns
    // once the part has finished its write cycle. 0, or -1 with errno as
    // read() reports it.
    virtual int program(std::size_t address, std::span<const unsigned char> bytes) = 0;

    // True when a card answers in the slot.
    virtual bool present() = 0;

    // True once after the card in the slot may have been replaced since the
    // previous call (a presence-detect line, a transfer that found the slot
    // empty); a device that cannot tell always says false.
    virtual bool card_changed() { return false; }
};

// The device of the card slot. Defined once per program by its board: the
// simulated SP, a vendor's board file, or cardlib/board_from_setting.cpp.
EepromDevice &board_card_device();

} // namespace cardlib
