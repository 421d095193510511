// Byte access to the card's serial EEPROM. The simulated part is the file
// <root>/sim/card/eeprom.bin (8192 bytes; an erased cell reads 0xFF); a
// pulled card is kept aside as <root>/sim/card/pulled.bin.
//
// The part is a 24C64-class device: it is programmed in pages of 32 bytes,
// one write cycle per page, and a page write never crosses a page boundary.
// read() and write() are transfers on the bus and are counted in the card
// I/O accounting (sim/card_io.cpp); peek() is the view of someone holding
// the card in their hand and is not.
//
// The access is shaped as on a Linux at24 EEPROM file (open, pread or
// pwrite at the byte address, close), so the same code could drive
// /sys/bus/i2c/devices/<bus>-0053/eeprom.
#pragma once

#include <cstddef>
#include <string>

#include "sim/control.hpp"

namespace kvtsim::eeprom {

inline constexpr std::size_t kPageSize = 32;

std::string path();        // the part in the slot
std::string pulled_path(); // the part that was pulled

// How a write programs the part:
// - all: every page the write touches, with all its bytes in that page;
// - changed: the part is read first and only the pages holding a byte that
//   differs are programmed, each from its first to its last differing byte.
// The part ends up holding the same bytes either way.
enum class WriteMode { all, changed };

// 0, or -1 with errno: ENXIO when no part answers (no card in the slot),
// EINVAL for a range outside the part, EIO for a short transfer.
int peek(std::size_t address, unsigned char *data, std::size_t len);
int read(std::size_t address, unsigned char *data, std::size_t len);
// write() adds the pages and bytes it programmed (and the read of the
// changed mode) to `tally` and leaves recording them to the caller, who
// counts them with its own figures, also after a failure.
int write(std::size_t address, const unsigned char *data, std::size_t len, WriteMode mode,
          CardIo &tally);

} // namespace kvtsim::eeprom
