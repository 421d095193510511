#include "cardlib/checksum.hpp"

#include <atomic>

#include "platform/card_lib.h"

#ifndef KVT_CHECKSUM_START
// From 0x5A a run of 0x00 sums to 0x5A and a run of 0xFF to 0x5A or 0xA5,
// neither of which equals the 0x00 or 0xFF found in the checksum byte of a
// zeroed or erased card, so a wiped card never passes for a written one.
#define KVT_CHECKSUM_START 0x5A
#endif

namespace cardlib {

namespace {

static_assert(KVT_CHECKSUM_START >= 0 && KVT_CHECKSUM_START <= 0xFF,
              "KVT_CHECKSUM_START is one byte");

std::atomic<std::uint8_t> &start_value()
{
    static std::atomic<std::uint8_t> start{KVT_CHECKSUM_START};
    return start;
}

} // namespace

std::uint8_t checksum_start()
{
    return start_value().load(std::memory_order_relaxed);
}

void use_checksum_start(std::uint8_t start)
{
    start_value().store(start, std::memory_order_relaxed);
}

std::uint8_t xor_checksum(std::span<const unsigned char> bytes)
{
    std::uint8_t sum = checksum_start();
    for (const unsigned char byte : bytes)
        sum ^= byte;
    return sum;
}

std::uint16_t crc16(std::span<const unsigned char> bytes, std::uint16_t crc)
{
    for (const unsigned char byte : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return crc;
}

} // namespace cardlib

extern "C" void calculate_xor_checksum(const void *data, int len, unsigned char *cksum)
{
    if (!cksum || len < 0 || (!data && len > 0))
        return;
    *cksum = cardlib::xor_checksum(
        std::span(static_cast<const unsigned char *>(data), static_cast<std::size_t>(len)));
}
