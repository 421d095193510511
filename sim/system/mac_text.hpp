// MAC addresses as the KVT-data file and the kvtsim tool write them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/control.hpp"

namespace kvtsim {

// "00:14:4f:00:00:01"
std::string mac_text(const Mac &mac);
// Six hexadecimal numbers of one or two digits separated by colons; nullopt
// for anything else.
std::optional<Mac> parse_mac(std::string_view text);

} // namespace kvtsim
