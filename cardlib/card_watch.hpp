// What the card library learns from transfers to the card other than its
// own reads and writes: the card monitor's header read over I2C. Either
// thread may report; the library's copy of the card takes it under its own
// lock.
#pragma once

#include <cstddef>
#include <span>

namespace cardlib {

// A transfer to the card failed: the card may have left the slot.
void note_card_unanswered();
// `bytes` were read from card address `address`.
void note_card_bytes(std::size_t address, std::span<const unsigned char> bytes);

} // namespace cardlib
