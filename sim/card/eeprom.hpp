// The card's serial EEPROM as the simulated SP holds it: the file
// <root>/sim/card/eeprom.bin (8192 bytes; an erased cell reads 0xFF); a
// pulled card is kept aside as <root>/sim/card/pulled.bin.
//
// On the bus the part is the card chip (sim/card/card_chip.hpp), a 24C64 with
// 32-byte pages; its transfers are counted in the card I/O accounting
// (sim/card/card_io.cpp). peek() and poke() are someone holding the card in a
// programmer on the bench, and are not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/control.hpp"

namespace kvtsim::eeprom {

inline constexpr std::size_t kPageSize = 32;

std::string path();        // the part in the slot
std::string pulled_path(); // the part that was pulled

// 0, or -1 with errno: ENXIO when no part is in the slot, EINVAL for a
// range outside the part, EIO for a short transfer.
int peek(std::size_t address, unsigned char *data, std::size_t len);
int poke(std::size_t address, const unsigned char *data, std::size_t len);

// The slot's card generation: a new value whenever a card leaves or enters
// the slot, as a presence-detect line would tell. 0 without a root.
std::uint64_t generation();
void new_generation();

} // namespace kvtsim::eeprom
