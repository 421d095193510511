// The SP's I2C bus as the daemon sees it: one serial EEPROM at device
// 0x53, addressed with two bytes, high byte first.
#include "platform/i2c.h"

#include <cerrno>

#include "sim/control.hpp"
#include "sim/eeprom.hpp"
#include "sim/fault_errno.hpp"

namespace
{
constexpr int kEepromDevice = 0x53;
}

extern "C" int i2c_writeread(int device, const unsigned char *write_buf, unsigned char *read_buf,
                             int write_len, int read_len)
{
    if (kvtsim::fault_sets_errno("i2c"))
        return -1;
    if (device != kEepromDevice) {
        errno = ENXIO; // nothing acknowledges that address
        return -1;
    }
    if (!write_buf || write_len != 2 || read_len < 0 || (read_len > 0 && !read_buf)) {
        errno = EINVAL;
        return -1;
    }
    const std::size_t address = (static_cast<std::size_t>(write_buf[0]) << 8) | write_buf[1];
    return kvtsim::eeprom::read(address, read_buf, static_cast<std::size_t>(read_len));
}
