// The default configuration of a fresh simulated SP.
#pragma once

namespace kvtsim {

// Writes every configuration object with its default value, the default
// users, the persisted variables (keyswitch included) and the CLI-mode
// file into the current root.
void reset_config_defaults();

} // namespace kvtsim
