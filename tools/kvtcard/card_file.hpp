// Where a card comes from: a raw image file, or a whole EEPROM dump (a
// file or a part read from a device) that also carries the card library's
// records beside the image.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "card/image.hpp"
#include "cardlib/eeprom_part.hpp"
#include "cardlib/layout.hpp"
#include "cardlib/record.hpp"
#include "cardlib/verdict.hpp"

namespace kvtcard {

inline constexpr std::size_t kEepromDumpSize = 8192;
// The argument that names the simulated SP's card instead of a file.
inline constexpr std::string_view kSimCard = "--sim";

// The part a dump is of and where its image lies. Without a part, a dump
// of any 24C part's size is taken as that part.
struct Geometry {
    std::optional<cardlib::EepromPart> part;
    std::size_t image_address = cardlib::kImageAddress;
};

struct Card {
    std::string source;                                 // file name, "sim:<file>" or the device
    std::string format;                                 // "image", "eeprom", "sim" or "device"
    std::size_t image_address = cardlib::kImageAddress; // on the card
    kvt::Image image;
    std::optional<cardlib::Record> record; // the library's newest record, from a dump
};

// Loads the card in the file at `path`. False with a one-line reason in
// `error` for a file that can't be read or has the wrong size.
bool load_card(const std::string &path, const Geometry &geometry, Card &card, std::string &error);
bool load_card(const std::string &path, Card &card, std::string &error);

// Loads raw bytes: an image (1832 bytes) or an EEPROM dump.
bool card_from_bytes(std::span<const unsigned char> bytes, const Geometry &geometry, Card &card,
                     std::string &error);
bool card_from_bytes(std::span<const unsigned char> bytes, Card &card, std::string &error);

// The whole file, at most the largest part and one byte more. False with
// a reason in `error`.
bool read_file(const std::string &path, std::vector<unsigned char> &bytes, std::string &error);

// The verdict kvtd's card library gives this card.
cardlib::CardVerdict card_verdict(const Card &card);

} // namespace kvtcard
