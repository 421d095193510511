// The card's checksums: the one-byte XOR checksum that closes every section
// of the image, and the CRC-16 the library keeps in its own records.
#pragma once

#include <cstdint>
#include <span>

namespace cardlib {

// The value the XOR checksum starts from: a board setting, fixed when the
// library is built (KVT_CHECKSUM_START, 0x5A by default). The card format
// leaves it open, so it must be the one the fleet's existing cards carry:
// a card summed from another start fails every section check.
std::uint8_t checksum_start();
// For a tool that reads cards of another fleet (kvtcard --checksum-start);
// kvtd never calls it.
void use_checksum_start(std::uint8_t start);

// XOR of the bytes, started from checksum_start().
std::uint8_t xor_checksum(std::span<const unsigned char> bytes);

// CRC-16/CCITT-FALSE: polynomial 0x1021, start 0xFFFF, no reflection. A
// CRC over several stretches carries the previous result on as `crc`.
inline constexpr std::uint16_t kCrc16Start = 0xFFFF;
std::uint16_t crc16(std::span<const unsigned char> bytes, std::uint16_t crc = kCrc16Start);

} // namespace cardlib
