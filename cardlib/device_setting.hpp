// Which device holds the card, as kvtd's board setting and kvtcard's
// --device name it:
//   "i2c:/dev/i2c-N[@ADDR]"  the part on an i2c-dev bus (ADDR default 0x53)
//   "at24:PATH"              the at24 driver's file, e.g.
//                            /sys/bus/i2c/devices/1-0053/eeprom
//   a bare path              /dev/i2c-N[@ADDR] as i2c, anything else as at24
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cardlib {

struct DeviceSetting {
    enum class Kind { i2c_dev, at24 };
    Kind kind = Kind::i2c_dev;
    std::string path;
    std::uint16_t address = 0x53;

    // "/dev/i2c-1@0x53" or the at24 file
    std::string name() const;
};

// nullopt with a one-line reason in `error` for a setting it can't read.
std::optional<DeviceSetting> parse_device_setting(std::string_view text, std::string &error);

} // namespace cardlib
