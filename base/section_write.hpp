// A change's way to the card: one section of kvt_image, with its checksum
// byte, handed to the card library and recorded in the daemon's status.
#pragma once

#include "card/sections.hpp"

namespace kvt {

// Writes the section with its checksum byte from kvt_image to the card.
// Returns write_out_KVT's result.
int write_section(Section section);

// Recomputes the section's checksum in kvt_image and writes the section.
int commit_section(Section section);

} // namespace kvt
