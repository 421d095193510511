// Where a card comes from: a raw image file, a whole EEPROM dump, or the
// card in the simulated SP's slot.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "card/image.hpp"

namespace kvtcard {

inline constexpr std::size_t kEepromDumpSize = 8192;
inline constexpr std::size_t kImageOffsetInEeprom = 0x1800;
// The argument that names the simulated SP's card instead of a file.
inline constexpr std::string_view kSimCard = "--sim";

struct Card {
    std::string source; // file name, or "sim:<root>"
    std::string format; // "image", "eeprom" or "sim"
    kvt::Image image;
};

// Loads the card named by `where` (a file or kSimCard). False with a
// one-line reason in `error` for a file that can't be read, a file of the
// wrong size or an empty slot.
bool load_card(std::string_view where, Card &card, std::string &error);

// Loads raw bytes: an image (1832 bytes) or an EEPROM dump (8192 bytes).
bool card_from_bytes(std::span<const unsigned char> bytes, Card &card, std::string &error);

} // namespace kvtcard
