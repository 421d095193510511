// A 24C-series EEPROM on an I2C bus (i2c-dev): two address bytes, high
// byte first, then the data. A page write returns once the part
// acknowledges again after its write cycle; a read is one sequential read,
// which the part continues across pages.
#pragma once

#include <cstdint>

#include "cardlib/eeprom_device.hpp"
#include "cardlib/eeprom_part.hpp"
#include "cardlib/i2c_bus.hpp"

namespace cardlib {

inline constexpr std::uint16_t kCardI2cAddress = 0x53;

class I2cEepromDevice : public EepromDevice {
  public:
    I2cEepromDevice(I2cBus &bus, std::uint16_t address, const EepromPart &part)
        : bus_(bus), address_(address), part_(part)
    {
    }

    std::size_t part_size() const override { return part_.size; }
    std::size_t page_size() const override { return part_.page; }
    int read(std::size_t address, std::span<unsigned char> out) override;
    int program(std::size_t address, std::span<const unsigned char> bytes) override;
    bool present() override;
    // True once after a transfer found no card.
    bool card_changed() override;

  private:
    int transfer(std::span<const I2cMessage> messages);
    int set_address(std::size_t address);

    I2cBus &bus_;
    std::uint16_t address_;
    EepromPart part_;
    bool missed_ = false;
};

} // namespace cardlib
