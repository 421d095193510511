// The card in a slot: --device PATH (the at24 file, or /dev/i2c-N with an
// optional @ADDR) or --sim (the simulated SP's part, read like an at24
// file), opened through the card library's own backends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cardlib/eeprom_device.hpp"
#include "cardlib/i2c_eeprom_device.hpp"
#include "tools/kvtcard/invocation.hpp"

namespace kvtcard {

struct Slot {
    std::unique_ptr<cardlib::EepromDevice> device;
    std::string name; // "/dev/i2c-1@0x53", the at24 file, "sim:<file>"
    bool simulated = false;
    std::string file; // the simulated SP's part
    std::uint16_t address = cardlib::kCardI2cAddress;
};

// "no card answers at 0x53", at the slot's address.
std::string no_card_text(const Slot &slot);

// Opens the slot `source` names, of the geometry's part (24C64 unless
// given). False with a reason in `error`.
bool open_slot(const CardSource &source, const Geometry &geometry, Slot &slot, std::string &error);

// Opens the one slot among the command's sources, beside which it takes
// `files` file names. "" or a one-line reason.
std::string open_slot_and_files(std::string_view command, std::size_t files, const Invocation &run,
                                Slot &slot, std::vector<std::string> &names);

// The whole part, read in one sequential read.
bool read_part(Slot &slot, std::vector<unsigned char> &part, std::string &error);

// Loads `source` as a card: a file as it is, a slot by reading its part.
bool load_source(const CardSource &source, const Geometry &geometry, Card &card,
                 std::string &error);

} // namespace kvtcard
