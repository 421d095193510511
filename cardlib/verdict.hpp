// What a card is, in one verdict that kvtd's start-up, describe_KVT and
// kvtcard all take from here: the acceptance rule (version 0x0B and nine
// right section checksums), refined only by this library's own record of a
// write that a cut left half done.
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
    write_interrupted, // checksums right, but the newest record shows a section its cut left mixed
};

// How the newest record of this library relates to the image.
enum class RecordState : std::uint8_t {
    none,       // no record: a card never written by this library, or a file
    consistent, // the configuration the record's write changes is as it left it
    not_landed, // the write never reached the configuration: it is as before the write
    stale,      // changed since by someone else (or damaged); the record refuses nothing
    torn,       // a section shows the shape only a cut of the write leaves, or the write
                // began over a refused card and did not complete
};

// Sections are numbered 1 to 9; bit s-1 stands for section s.
using SectionSet = std::uint16_t;

struct CardVerdict {
    CardKind kind = CardKind::valid;
    std::uint8_t version = 0;
    SectionSet bad_checksums = 0;
    std::uint8_t interrupted_section = 0; // for write_interrupted
    RecordState record = RecordState::none;
    // Sections of the record's stretch that hold neither what the write
    // left nor what it found, for a warning: another writer's change, or
    // damage the XOR checksum misses.
    SectionSet differing = 0;

    bool accepted() const { return kind == CardKind::valid; }
};

// `newest` is the newest record found beside the image, if any; the image
// lies at card address `image_address`.
CardVerdict classify_card(ImageView image, const std::optional<Record> &newest,
                          std::size_t image_address = kImageAddress);

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
