// Byte access to the card's serial EEPROM. The simulated part is the file
// <root>/sim/card/eeprom.bin (8192 bytes; an erased cell reads 0xFF); a
// pulled card is kept aside as <root>/sim/card/pulled.bin.
//
// The access is shaped as on a Linux at24 EEPROM file (open, pread or
// pwrite at the byte address, close), so the same code could drive
// /sys/bus/i2c/devices/<bus>-0053/eeprom.
#pragma once

#include <cstddef>
#include <string>

namespace kvtsim::eeprom
{

std::string path();        // the part in the slot
std::string pulled_path(); // the part that was pulled

// 0, or -1 with errno: ENXIO when no part answers (no card in the slot),
// EINVAL for a range outside the part, EIO for a short transfer.
int read(std::size_t address, unsigned char *data, std::size_t len);
int write(std::size_t address, const unsigned char *data, std::size_t len);

} // namespace kvtsim::eeprom
