// The POST names the platform-control library knows, for whoever checks a
// name without converting it (a fault's target).
#pragma once

#include <string_view>

namespace kvtsim {

bool post_verbosity_known(std::string_view name);
bool post_level_known(std::string_view name);

} // namespace kvtsim
