#include "cardlib/i2c_eeprom_device.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

namespace cardlib {

namespace {

// The kernel's i2c-dev takes at most this many bytes in one message.
constexpr std::size_t kMaxMessage = 8192;

std::array<unsigned char, 2> address_bytes(std::size_t address)
{
    return {static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
}

bool in_part(std::size_t address, std::size_t len, std::size_t size)
{
    return address <= size && len <= size - address;
}

} // namespace

int I2cEepromDevice::transfer(std::span<const I2cMessage> messages)
{
    if (transfer_when_ready(bus_, messages) == 0)
        return 0;
    missed_ = missed_ || not_acknowledged(errno);
    return -1;
}

// A write of the address bytes alone: the part takes the address and,
// with no data byte, starts no write cycle.
int I2cEepromDevice::set_address(std::size_t address)
{
    auto bytes = address_bytes(address);
    const I2cMessage message{address_, false, bytes};
    return transfer(std::span(&message, 1));
}

int I2cEepromDevice::read(std::size_t address, std::span<unsigned char> out)
{
    if (!in_part(address, out.size(), part_.size)) {
        errno = EINVAL;
        return -1;
    }
    for (std::size_t done = 0; done < out.size();) {
        const std::size_t len = std::min(out.size() - done, kMaxMessage);
        auto at = address_bytes(address + done);
        const std::array messages{I2cMessage{address_, false, at},
                                  I2cMessage{address_, true, out.subspan(done, len)}};
        if (transfer(messages) != 0)
            return -1;
        done += len;
    }
    return 0;
}

int I2cEepromDevice::program(std::size_t address, std::span<const unsigned char> bytes)
{
    const bool one_page =
        bytes.empty() || address / part_.page == (address + bytes.size() - 1) / part_.page;
    if (!in_part(address, bytes.size(), part_.size) || !one_page) {
        errno = EINVAL;
        return -1;
    }
    if (bytes.empty())
        return 0;
    std::vector<unsigned char> buffer(2 + bytes.size());
    const auto at = address_bytes(address);
    std::copy(at.begin(), at.end(), buffer.begin());
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + 2);
    const I2cMessage message{address_, false, buffer};
    if (transfer(std::span(&message, 1)) != 0)
        return -1;
    // Acknowledge polling until the write cycle is over.
    return set_address(address);
}

bool I2cEepromDevice::present()
{
    return set_address(0) == 0;
}

bool I2cEepromDevice::card_changed()
{
    const bool missed = missed_;
    missed_ = false;
    return missed;
}

} // namespace cardlib
