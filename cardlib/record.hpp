// The card library's write record. Before each write that changes the card,
// the library programs one record into the next of its slots (one page
// each, in turn, so that no slot page wears faster than the image pages):
// the stretch of the image the write changes, the configuration sections it
// changes, a CRC-16 of those sections before and after the write, and a
// fingerprint of each of up to nine units of them before and after (see
// record_units.hpp). The write then programs its pages in ascending order,
// so a cut leaves every unit before the cut as the write made it, the unit
// it hit anything, every unit after it as it was, and every byte outside
// the stretch untouched. verdict.cpp judges a card by that shape; only the
// newest record counts.
//
// The configuration sections are sections 2 to 9 with their checksum
// bytes: the header carries no configuration, so a write cut in the header
// alone never refuses a card, and the reserved bytes carry nothing at all.
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
inline constexpr std::size_t kUnits = 9;
// Records of an earlier layout (format 0xA7) are not read: a card that
// carries only those is judged by the acceptance rule alone, and the
// library's next write starts the slots afresh.
inline constexpr std::uint8_t kRecordFormat = 0xA8;

// A unit's fingerprint before and after the write.
struct UnitPrints {
    std::uint8_t before;
    std::uint8_t after;
};

// One slot as it lies on the card, big-endian throughout. The sequence
// opens the slot and its check closes it, so that the check of the newest
// slot and the sequence of the slot after it lie side by side on the card
// (on parts with 32-byte pages): the one read that tells whether anyone
// wrote a record since.
struct RecordSlot {
    kvt::Be16 sequence; // one more than the previous record's, modulo 2^16
    std::uint8_t format;
    std::uint8_t flags;               // kOverRefused | page size code << 4
    std::array<std::uint8_t, 3> span; // 12 bits each: first byte changed, bytes from it to the last
    std::uint8_t sections;            // configuration sections changed: bit s-2 for section s
    kvt::Be16 crc_before;             // CRC-16 of those sections before the write
    kvt::Be16 crc_after;              // ... and after it
    std::array<UnitPrints, kUnits> units;
    kvt::Be16 check; // CRC-16 of bytes 0..29
};

static_assert(sizeof(RecordSlot) == kSlotSize && alignof(RecordSlot) == 1);
static_assert(offsetof(RecordSlot, format) == 2 && offsetof(RecordSlot, span) == 4);
static_assert(offsetof(RecordSlot, crc_before) == 8 && offsetof(RecordSlot, units) == 12);
static_assert(offsetof(RecordSlot, check) == kSlotSize - 2);

// Configuration sections, bit s-2 standing for section s (2 to 9).
using ConfigSections = std::uint8_t;
// Whether `sections` holds the section of kvt::kSectionMap index `s`.
bool in_sections(ConfigSections sections, std::size_t s);

// The write began over a card this library refused: until a write
// completes, what the card held before proves nothing.
inline constexpr std::uint8_t kOverRefused = 0x01;

struct Record {
    std::uint16_t sequence = 0;
    std::uint16_t first = 0;
    std::uint16_t length = 0;
    ConfigSections sections = 0;
    std::uint16_t crc_before = 0;
    std::uint16_t crc_after = 0;
    bool over_refused = false;
    std::size_t page_size = 32;
    std::array<UnitPrints, kUnits> units{};
};

using ImageView = std::span<const unsigned char, kImageSize>;

// The record of a write that changes [first, first + length) of the image
// at card address `image_address`, programmed in pages of `page_size`,
// given the image before and after it.
struct WriteShape {
    std::size_t first = 0;
    std::size_t length = 0;
    std::size_t page_size = 32;
    std::size_t image_address = kImageAddress;
    bool over_refused = false;
};
Record record_of_write(ImageView before, ImageView after, const WriteShape &shape,
                       std::uint16_t sequence);

// CRC-16 of `sections` of `image`, each with its checksum byte.
std::uint16_t sections_crc(ImageView image, ConfigSections sections);
// The configuration sections in which `a` and `b` differ.
ConfigSections sections_differing(ImageView a, ImageView b);
// The fingerprint of [first, end) of `image`: 8 bits of its CRC-16.
std::uint8_t unit_fingerprint(ImageView image, std::size_t first, std::size_t end);

std::array<unsigned char, kSlotSize> encode(const Record &record);
// nullopt for a slot that holds no record of this library: erased, zeroed,
// cut while it was programmed, of an earlier format, or another writer's
// bytes.
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
