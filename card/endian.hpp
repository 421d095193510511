// Big-endian integer fields: they hold bytes, so a record built from them
// has no padding and reads the same on any host.
#pragma once

#include <cstdint>

namespace kvt {

struct Be16 {
    unsigned char bytes[2];

    constexpr std::uint16_t get() const
    {
        return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
    }
    constexpr void set(std::uint16_t value)
    {
        bytes[0] = static_cast<unsigned char>(value >> 8);
        bytes[1] = static_cast<unsigned char>(value);
    }
};

struct Be32 {
    unsigned char bytes[4];

    constexpr std::uint32_t get() const
    {
        return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
               (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
    }
    constexpr void set(std::uint32_t value)
    {
        bytes[0] = static_cast<unsigned char>(value >> 24);
        bytes[1] = static_cast<unsigned char>(value >> 16);
        bytes[2] = static_cast<unsigned char>(value >> 8);
        bytes[3] = static_cast<unsigned char>(value);
    }
};

static_assert(sizeof(Be16) == 2 && alignof(Be16) == 1);
static_assert(sizeof(Be32) == 4 && alignof(Be32) == 1);

} // namespace kvt
