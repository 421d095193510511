// The CLI-mode file "/etc/cli_mode.conf" (one "name:mode" line per user)
// as the "/X/users/<name>/cli_mode" objects see it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kvtsim {

inline constexpr const char *kCliModeFile = "/etc/cli_mode.conf";

// The mode on the user's line; nullopt when the user has no line.
std::optional<std::string> cli_mode_of(std::string_view name);
// Rewrites the user's line, or appends one. 0 on success.
int set_cli_mode(std::string_view name, std::string_view mode);

} // namespace kvtsim
