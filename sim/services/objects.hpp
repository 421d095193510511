// The configuration objects' values: the store <root>/sim/objects (one
// "path<TAB>value" line per object of the schema) and the per-user objects
// "/X/users/<name>/password", ".../role" and ".../cli_mode", which live in
// the user database and the CLI-mode file. Shared by the configuration-
// object service (sim/services/luapi.cpp) and the control API.
#pragma once

#include <string>
#include <string_view>

#include "sim/root/locked_text.hpp"

namespace kvtsim {

// Error numbers of the configuration-object service (luapi_errno).
inline constexpr int kLuapiNoObject = 2;  // no such object
inline constexpr int kLuapiIoError = 5;   // the store could not be written
inline constexpr int kLuapiBadHandle = 9; // no such connection or session
inline constexpr int kLuapiNoAccess = 13; // unknown account
inline constexpr int kLuapiBadValue = 22; // value refused

// Each returns 0 or an error number above.
int object_read(std::string_view path, std::string &value);
int object_check(std::string_view path, std::string_view value);
// A set as the service makes it: checked, applied (a commit copies the
// pending network settings, a "/X/users" object changes the user database
// or the CLI-mode file), stored, then announced with an audit event.
int object_write(std::string_view path, std::string_view value);

// Every known object with its value, the per-user objects last.
Pairs object_list();
// Replaces the store (the default configuration).
void object_store_reset(const Pairs &values);

} // namespace kvtsim
