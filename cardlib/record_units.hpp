// How a write record divides the sections it changes. A piece is what one
// page of the card holds of one such section, inside or outside the
// stretch the write changes (the stretch's ends cut pieces too); a unit
// is a piece or a run of pieces of one section. A write cut off leaves at
// most one page half programmed, so at most one unit of each section it
// changes mixed, and never a byte outside its stretch changed: that is
// what the verdict looks for.
//
// A record has room for nine units. When the stretch has more pieces,
// every section but the last keeps one unit, and the last keeps the most
// pieces of its own, from its end: another writer's change can be taken
// for a cut only where no unit after it shows this write's bytes, which is
// at the end of the stretch, so that is where the units are finest.
#pragma once

#include <cstddef>
#include <vector>

#include "cardlib/layout.hpp"

namespace cardlib {

struct Record;

struct Unit {
    std::size_t first = 0;   // image offset
    std::size_t end = 0;     // one past its last byte
    std::size_t section = 0; // 1 to 8: sections 2 to 9
    bool in_stretch = false; // holds bytes the write changes
};

// The units of the sections `record`'s write changes, in ascending order.
std::vector<Unit> record_units(const Record &record, std::size_t image_address = kImageAddress);

} // namespace cardlib
