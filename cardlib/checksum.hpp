// The card's checksums: the one-byte XOR checksum that closes every section
// of the image, and the CRC-16 the library keeps in its own records.
#pragma once

#include <cstdint>
#include <span>

namespace cardlib {

// XOR of the bytes, started from 0x5A: neither an erased (0xFF) nor a
// zeroed stretch then carries a matching checksum byte.
std::uint8_t xor_checksum(std::span<const unsigned char> bytes);

// CRC-16/CCITT-FALSE: polynomial 0x1021, start 0xFFFF, no reflection.
std::uint16_t crc16(std::span<const unsigned char> bytes);

} // namespace cardlib
