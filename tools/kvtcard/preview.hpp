// Pieces of the preview of a restore on the simulated SP.
#pragma once

#include "card/image.hpp"
#include "tools/kvtcard/node.hpp"

namespace kvtcard {

// { restored, root, added[], deleted[], changed[], unchanged[], add_fails[] }
// or { restored: false, reason } while the card turns user data off.
Node preview_users(const kvt::Image &image);

} // namespace kvtcard
