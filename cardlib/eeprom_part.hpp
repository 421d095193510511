// The 24C-series parts a card may carry: 24C64 (the smallest that holds
// the image at 0x1800 and the library's record slots) to 24C512.
#pragma once

#include <cstddef>
#include <iterator>
#include <optional>
#include <string_view>

#include "platform/card_lib.h"

namespace cardlib {

struct EepromPart {
    std::string_view name;
    std::size_t size; // bytes
    std::size_t page; // bytes one write cycle programs
};

inline constexpr EepromPart kPart24c64{"24c64", 8192, 32};
inline constexpr EepromPart kParts[] = {
    kPart24c64,
    {"24c128", 16384, 64},
    {"24c256", 32768, 64},
    {"24c512", 65536, 128},
};
static_assert(std::size(kParts) > 0 && kParts[std::size(kParts) - 1].size == KVT_LARGEST_PART,
              "the table ends with the largest part");

// "24c64" or "24C64"; nullopt for a part not in the table.
std::optional<EepromPart> part_named(std::string_view name);
// The part of `size` bytes; nullopt for a size no part has.
std::optional<EepromPart> part_of_size(std::size_t size);

} // namespace cardlib
