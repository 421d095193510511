// The card's part through the Linux at24 driver: its nvmem file
// (/sys/bus/i2c/devices/N-00AA/eeprom), read and written with pread and
// pwrite. The driver splits writes into pages and waits out each write
// cycle itself. Works as well over a plain file of the part's size.
#pragma once

#include <string>

#include "cardlib/eeprom_device.hpp"
#include "cardlib/eeprom_part.hpp"

namespace cardlib {

class At24Device : public EepromDevice {
  public:
    At24Device(std::string path, const EepromPart &part) : path_(std::move(path)), part_(part) {}

    std::size_t part_size() const override { return part_.size; }
    std::size_t page_size() const override { return part_.page; }
    // A card that does not answer is ENXIO, whatever the driver said:
    // ETIMEDOUT once the driver has given up on the part, ENOENT or ENODEV
    // when it never bound (no card at boot).
    int read(std::size_t address, std::span<unsigned char> out) override;
    int program(std::size_t address, std::span<const unsigned char> bytes) override;
    bool present() override;
    // True once after an access found no card.
    bool card_changed() override;

  private:
    bool in_part(std::size_t address, std::size_t len) const;
    int finish(int result);

    std::string path_;
    EepromPart part_;
    bool missed_ = false;
};

} // namespace cardlib
