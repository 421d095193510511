// The simulated SP as kvtcard reaches it: through the simulator's own tool,
// kvtsim, so that kvtcard carries no simulator code. kvtsim is taken from
// $KVT_KVTSIM, else from beside kvtcard, else from PATH.
#pragma once

#include <string>
#include <vector>

namespace kvtcard {

// The file of the card in the simulated slot (an EEPROM dump), as kvtsim
// names it. False with a reason in `error`.
bool simulated_card_path(std::string &path, std::string &error);

// Where the simulated SP keeps the daemon's fixed path `fixed` (such as
// "/run/kvtd/status"), as kvtsim names it.
bool simulated_path(const std::string &fixed, std::string &path, std::string &error);

// Replaces this process with `kvtsim <args...>`; returns only on failure,
// with a reason in `error`.
void exec_kvtsim(const std::vector<std::string> &args, std::string &error);

} // namespace kvtcard
