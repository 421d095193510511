// Recording side of the card I/O accounting; the counters themselves are
// read through sim/control.hpp.
#pragma once

#include "sim/control.hpp"

namespace kvtsim {

// Adds `delta` to the counters of this root. Without a card directory (a
// root that was never created) nothing is recorded.
void card_io_add(const CardIo &delta);

} // namespace kvtsim
