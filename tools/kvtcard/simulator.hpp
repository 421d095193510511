// The SP as kvtcard reaches it: the simulated SP through the simulator's
// own tool, kvtsim, and any SP through kvtd-preview, so that kvtcard
// carries no code of the SP's services. kvtsim is taken from $KVT_KVTSIM,
// else from beside kvtcard, else from PATH.
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

// Runs `kvtd-preview <args...>` with this process's output and waits for
// it: its exit status, or -1 with a reason in `error` when it could not
// run. kvtd-preview is built with kvtd against the SP's services; it is
// taken from $KVT_PREVIEW, else from beside kvtcard, else from PATH.
int run_preview_program(const std::vector<std::string> &args, std::string &error);

} // namespace kvtcard
