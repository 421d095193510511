// The card library's own record in the spare bytes after the image: the
// card format gives each section a one-byte XOR checksum, which misses many
// torn writes (two changed bytes that cancel out), so the library keeps
// beside the image
// - a CRC-16/CCITT (polynomial 0x1021, start 0xFFFF) of each section with
//   its checksum byte, as last written by this library, and
// - an intent marker: the stretch of the image a write is programming and
//   the CRC-16 of its new bytes, set before the image bytes are programmed
//   and cleared after the section CRCs are.
// A card written by another library has blank spare bytes (0xFF): no
// section has a stored CRC and no marker is set, so only the XOR checksums
// apply to it.
//
// The record lies in one page at card address 0x1F40 (the spare bytes run
// from 0x1F28, right after the image, to the end of the part):
//   0..17   CRC-16 of sections 1 to 9, big-endian
//   18..19  sections with a stored CRC: bit s-1 clear for section s
//   20..21  intent: first image offset of the write
//   22..23  intent: its length
//   24..25  intent: CRC-16 of the bytes it programs
//   26      intent marker: 0xFF none, 0x5A write in progress
// A write programs the intent (bytes 20..26, the marker last), then the
// image bytes, then the whole record with the new CRCs and the marker
// cleared (the marker last). Cut anywhere, the card either holds its old or
// its new image with a consistent record, or shows the marker or a section
// CRC that does not match.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/control.hpp"
#include "sim/eeprom.hpp"

namespace kvtsim::spare {

inline constexpr std::size_t kRecordAddress = 0x1F40;
inline constexpr std::size_t kRecordSize = 27;
inline constexpr std::size_t kIntentAt = 20; // the intent's bytes: 20 to 26
inline constexpr std::size_t kIntentSize = kRecordSize - kIntentAt;
inline constexpr unsigned char kWriteInProgress = 0x5A;

static_assert(kRecordAddress >= kImageOffset + kImageSize);
static_assert(kRecordAddress % eeprom::kPageSize + kRecordSize <= eeprom::kPageSize);

std::uint16_t crc16(const unsigned char *bytes, std::size_t len);

// Programs `len` bytes of `data` at image offset `offset` with the intent
// and the section CRCs around them. `budget` is the number of bytes (of the
// intent, the image bytes and the record, in that order) that may still
// reach the card; when it runs out the write stops there: a torn write,
// -1 with EIO. 0, or -1 with errno.
int write_image(std::size_t offset, const unsigned char *data, std::size_t len,
                eeprom::WriteMode mode, std::size_t budget, CardIo &tally);

// False when `image` (kImageSize bytes) is the image on the card and the
// card's record shows it torn: a section CRC that does not match, or a
// write in progress whose bytes did not all reach the card. An image that
// is not the one on the card (one just built in memory), a card without a
// record, or no card at all: true, the checksums alone decide.
bool card_accepts(const unsigned char *image);

} // namespace kvtsim::spare
