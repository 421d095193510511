// What a card is, in one verdict that kvtd's start-up, valid_KVT and
// kvtcard all take from here: the acceptance rule (version 0x0B and nine
// right section checksums), refined only by this library's own record of a
// write it knows was cut off.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cardlib/record.hpp"

namespace cardlib {

enum class CardKind : std::uint8_t {
    valid,
    blank,             // erased: every image byte 0xFF
    invalidated,       // version 0xFF: a fatal stop wrote it off
    unknown_version,   // any other version than 0x0B
    bad_checksum,      // version 0x0B, a section checksum wrong
    write_interrupted, // checksums right, but the newest record shows a cut write
};

// How the newest record of this library relates to the image.
enum class RecordState : std::uint8_t {
    none,       // no record: a card never written by this library, or a file
    consistent, // every section as the record's write left it
    not_landed, // the record's write never reached the card; the image is the one before it
    stale,      // the image was written since by someone else; the record says nothing
    torn,       // the record's write was cut off part way
};

// Sections are numbered 1 to 9; bit s-1 stands for section s.
using SectionSet = std::uint16_t;

struct CardVerdict {
    CardKind kind = CardKind::valid;
    std::uint8_t version = 0;
    SectionSet bad_checksums = 0;
    std::uint8_t interrupted_section = 0; // for write_interrupted
    RecordState record = RecordState::none;
    // Sections whose bytes differ from what the newest record says, for a
    // warning: another writer's change, or damage the XOR checksum misses.
    SectionSet differing = 0;

    bool accepted() const { return kind == CardKind::valid; }
};

// `newest` is the newest record found beside the image, if any.
CardVerdict classify_card(ImageView image, const std::optional<Record> &newest);

// "card valid", "card blank (erased)", "card invalidated by a fatal stop",
// "card invalid: unknown version 0x07", "card invalid: checksum wrong in
// sections 4, 6", "card invalid: write interrupted in section 5".
std::string verdict_reason(const CardVerdict &verdict);
// Empty, or one line about the record: differing sections, a write that
// never reached the card.
std::string verdict_warning(const CardVerdict &verdict);
// "4, 6"
std::string section_list(SectionSet sections);

} // namespace cardlib
