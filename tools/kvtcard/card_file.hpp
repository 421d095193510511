// Where a card comes from: a raw image file, or a whole EEPROM dump that
// also carries the card library's records beside the image.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "card/image.hpp"
#include "cardlib/record.hpp"
#include "cardlib/verdict.hpp"

namespace kvtcard {

inline constexpr std::size_t kEepromDumpSize = 8192;
inline constexpr std::size_t kDumpPageSize = 32;
// The argument that names the simulated SP's card instead of a file.
inline constexpr std::string_view kSimCard = "--sim";

struct Card {
    std::string source; // file name, or "sim:<file>"
    std::string format; // "image", "eeprom" or "sim"
    kvt::Image image;
    std::optional<cardlib::Record> record; // the library's newest record, from a dump
};

// Loads the card in the file at `path`. False with a one-line reason in
// `error` for a file that can't be read or has the wrong size.
bool load_card(const std::string &path, Card &card, std::string &error);

// Loads raw bytes: an image (1832 bytes) or an EEPROM dump (8192 bytes).
bool card_from_bytes(std::span<const unsigned char> bytes, Card &card, std::string &error);

// The verdict kvtd's card library gives this card.
cardlib::CardVerdict card_verdict(const Card &card);

} // namespace kvtcard
