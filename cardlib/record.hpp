// The card library's write record. Before each write that changes the card,
// the library programs one record into the next of its slots (one page
// each, in turn, so that no slot page wears faster than the image pages):
// the stretch of the image it is about to write, the CRC-16 of what the
// stretch held before, and the CRC-16 of each section as the write will
// leave it. Only the newest record counts. Cut anywhere, the card then
// shows one of:
// - the record itself cut: its check fails, the previous record stands
//   and the image was not touched;
// - every section matching the record: the write completed;
// - the stretch as it was before: nothing of the write reached the card;
// - anything else inside the stretch, with the header and every section
//   outside the stretch as the record says: the write was interrupted.
// A card whose header or outside sections disagree with the newest record
// was written since by someone else: the record is stale and says nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "card/endian.hpp"
#include "cardlib/layout.hpp"

namespace cardlib {

inline constexpr std::size_t kSections = 9;
inline constexpr std::uint8_t kRecordFormat = 0xA7;

// One slot as it lies on the card, big-endian throughout.
struct RecordSlot {
    kvt::Be16 check;    // CRC-16 of bytes 2..31
    kvt::Be16 sequence; // one more than the previous record's, modulo 2^16
    std::uint8_t format;
    std::uint8_t reserved;
    kvt::Be16 first;                              // image offset of the stretch written
    kvt::Be16 length;                             // its length in bytes
    kvt::Be16 old_crc;                            // CRC-16 of the stretch before the write
    std::array<kvt::Be16, kSections> section_crc; // each section with its checksum byte, after
    kvt::Be16 unused;
};

static_assert(sizeof(RecordSlot) == kSlotSize && alignof(RecordSlot) == 1);
static_assert(offsetof(RecordSlot, sequence) == 2 && offsetof(RecordSlot, format) == 4);
static_assert(offsetof(RecordSlot, first) == 6 && offsetof(RecordSlot, old_crc) == 10);
static_assert(offsetof(RecordSlot, section_crc) == 12 && offsetof(RecordSlot, unused) == 30);

// Bytes of a slot that tell whether it is still the one last written:
// its check and its sequence.
inline constexpr std::size_t kSlotStampSize = 4;

struct Record {
    std::uint16_t sequence = 0;
    std::uint16_t first = 0;
    std::uint16_t length = 0;
    std::uint16_t old_crc = 0;
    std::array<std::uint16_t, kSections> section_crc{};
};

using ImageView = std::span<const unsigned char, kImageSize>;

// CRC-16 of section s (0-based) of `image`, its checksum byte included.
std::uint16_t section_crc(ImageView image, std::size_t s);

// The record of a write of `length` bytes at `first`, given the image
// before and after it.
Record record_of_write(ImageView before, ImageView after, std::size_t first, std::size_t length,
                       std::uint16_t sequence);

std::array<unsigned char, kSlotSize> encode(const Record &record);
// nullopt for a slot that holds no record of this library: erased, zeroed,
// cut while it was programmed, or another writer's bytes.
std::optional<Record> decode(std::span<const unsigned char, kSlotSize> bytes);

// The newest record among the slots of `slots` (the slot area as read, one
// slot per `stride` bytes), with its slot index.
struct NewestRecord {
    Record record;
    std::size_t slot = 0;
};
std::optional<NewestRecord> newest_record(std::span<const unsigned char> slots, std::size_t stride,
                                          std::size_t count);

} // namespace cardlib
