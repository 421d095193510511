// Persisted variables of the simulated SP: the card library's table of
// names (rows at fixed indices) and their text values in <root>/sim/nv.
#pragma once

#include <optional>
#include <string_view>

#include "sim/root/locked_text.hpp"

namespace kvtsim {

// Row of `name` in nv_file_table; nullopt for a name not in the table.
std::optional<unsigned> nv_row(std::string_view name);
// Replaces every value without announcing anything (the defaults).
void nv_reset(const Pairs &values);

} // namespace kvtsim
