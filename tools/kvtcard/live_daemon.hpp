// Whether a kvtd runs on the SP whose card a command would write: the
// daemon keeps its pid in its status file (/run/kvtd/status) while it runs.
#pragma once

#include <string>

namespace kvtcard {

// True when the process `pid_text` names runs: it exists (ours to signal or
// not) and has not ended unreaped.
bool process_runs(const std::string &pid_text);

// The SP's own status file: /run/kvtd/status, under KVT_SP_ROOT where a
// simulated SP keeps the daemon's fixed paths.
std::string sp_status_path();

// The pid of the kvtd that keeps the status file at `status_path`, when it
// still runs; empty otherwise.
std::string running_kvtd(const std::string &status_path);

} // namespace kvtcard
