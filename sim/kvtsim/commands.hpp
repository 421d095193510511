// Commands of the kvtsim tool, grouped by the part of the simulated SP they
// drive. sim/bin/kvtsim.cpp dispatches on the first word.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace kvtsim::cli {

using Args = std::vector<std::string>; // the words after the command name

struct Command {
    const char *name;
    const char *usage; // one line: arguments and what it does
    int (*run)(const Args &args);
};

// root, card, card-library state, KVT-data, IPMI, faults, fault log, power
std::span<const Command> platform_commands();
// configuration objects, persisted variables, users, CLI modes
std::span<const Command> config_commands();
// event manager, PCM, IPMI user commands, raw audit records
std::span<const Command> event_commands();

} // namespace kvtsim::cli
