#include "cardlib/i2c_eeprom_device.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <vector>

namespace cardlib {

namespace {

std::array<unsigned char, 2> address_bytes(std::size_t address)
{
    return {static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
}

bool in_part(std::size_t address, std::size_t len, std::size_t size)
{
    return address <= size && len <= size - address;
}

// Moves `total` bytes in pieces of at most `limit` through `piece(done,
// len)`. A piece the adapter refuses as too long halves the limit and is
// tried again, down to one byte. 0, or -1 with errno.
int in_pieces(std::size_t total, std::size_t &limit,
              const std::function<int(std::size_t done, std::size_t len)> &piece)
{
    for (std::size_t done = 0; done < total;) {
        const std::size_t len = std::min(total - done, limit);
        if (piece(done, len) == 0) {
            done += len;
            continue;
        }
        if (errno != EOPNOTSUPP || len == 1)
            return -1;
        limit = len / 2;
    }
    return 0;
}

} // namespace

// Asked once, on the first access that reaches the adapter.
bool I2cEepromDevice::adapter_refuses()
{
    if (!adapter_known_) {
        const auto adapter = bus_.adapter();
        adapter_known_ = adapter.has_value();
        smbus_only_ = adapter && !adapter->plain_i2c;
    }
    if (smbus_only_)
        errno = EOPNOTSUPP;
    return smbus_only_;
}

int I2cEepromDevice::transfer(std::span<const I2cMessage> messages)
{
    if (adapter_refuses())
        return -1;
    if (transfer_when_ready(bus_, messages) == 0)
        return 0;
    missed_ = missed_ || busy_in_write_cycle(errno);
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

int I2cEepromDevice::read_piece(std::size_t address, std::span<unsigned char> out)
{
    auto at = address_bytes(address);
    const std::array messages{I2cMessage{address_, false, at}, I2cMessage{address_, true, out}};
    return transfer(messages);
}

int I2cEepromDevice::read(std::size_t address, std::span<unsigned char> out)
{
    if (!in_part(address, out.size(), part_.size)) {
        errno = EINVAL;
        return -1;
    }
    return in_pieces(out.size(), read_limit_, [&](std::size_t done, std::size_t len) {
        return read_piece(address + done, out.subspan(done, len));
    });
}

// One write cycle: the data, then acknowledge polling until it is over.
int I2cEepromDevice::write_piece(std::size_t address, std::span<const unsigned char> bytes)
{
    std::vector<unsigned char> buffer(2 + bytes.size());
    const auto at = address_bytes(address);
    std::copy(at.begin(), at.end(), buffer.begin());
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + 2);
    const I2cMessage message{address_, false, buffer};
    if (transfer(std::span(&message, 1)) != 0)
        return -1;
    write_cycle_begun(bus_);
    return set_address(address);
}

// A page written in pieces is as good as whole: each piece is a write
// cycle of its own inside the page.
int I2cEepromDevice::program(std::size_t address, std::span<const unsigned char> bytes)
{
    const bool one_page =
        bytes.empty() || address / part_.page == (address + bytes.size() - 1) / part_.page;
    if (!in_part(address, bytes.size(), part_.size) || !one_page) {
        errno = EINVAL;
        return -1;
    }
    return in_pieces(bytes.size(), write_limit_, [&](std::size_t done, std::size_t len) {
        return write_piece(address + done, bytes.subspan(done, len));
    });
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
