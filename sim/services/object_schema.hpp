// Every configuration object that the simulated SP knows, with the values
// it accepts. Objects under "/X/users/<name>/" are not listed: they exist
// while the user does (sim/services/objects.cpp).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kvtsim {

struct ObjectRule {
    std::string path;
    bool (*accepts)(std::string_view value);
};

std::span<const ObjectRule> object_schema();
const ObjectRule *find_object(std::string_view path);

// Values of the per-user objects.
bool user_password_accepted(std::string_view value);
bool user_roles_accepted(std::string_view value);
bool user_cli_mode_accepted(std::string_view value);

} // namespace kvtsim
