// The targets the fault families ending in ':' accept.
#pragma once

#include <string_view>

namespace kvtsim {

// `family` ends in ':' ("luapi.get:"); true when `target` is an object
// path, POST name, persisted variable, event class or daemon file of this
// SP, as the family takes.
bool fault_target_known(std::string_view family, std::string_view target);

} // namespace kvtsim
