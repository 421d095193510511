// A 24C-series EEPROM on an I2C bus (i2c-dev): two address bytes, high
// byte first, then the data. A page write returns once the part
// acknowledges again after its write cycle; a read is sequential, which
// the part continues across pages. Messages are as long as the adapter
// takes: one it refuses as too long (EOPNOTSUPP) is split in halves until
// it goes through, and the length that did is kept.
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
    // An SMBus-only adapter fails every access with EOPNOTSUPP.
    int read(std::size_t address, std::span<unsigned char> out) override;
    int program(std::size_t address, std::span<const unsigned char> bytes) override;
    bool present() override;
    // True once after a transfer found no card.
    bool card_changed() override;

  private:
    int transfer(std::span<const I2cMessage> messages);
    bool adapter_refuses();
    int set_address(std::size_t address);
    int read_piece(std::size_t address, std::span<unsigned char> out);
    int write_piece(std::size_t address, std::span<const unsigned char> bytes);

    I2cBus &bus_;
    std::uint16_t address_;
    EepromPart part_;
    bool missed_ = false;
    bool adapter_known_ = false;
    bool smbus_only_ = false;
    std::size_t read_limit_ = kKernelMaxMessage;      // data bytes of one read message
    std::size_t write_limit_ = kKernelMaxMessage - 2; // data bytes of one write message
};

} // namespace cardlib
