// The simulated SP's user database, <root>/sim/users: one account a line,
// "name:uid:proxy:roles:password", in the order the accounts were added
// (which is the order the library enumerates them in). Shared by the
// user-management library (sim/user_mgmt.cpp), the control API
// (sim/users.cpp) and the "/X/users" objects. No faults and no audit
// events here: the callers add what their interface has.
#pragma once

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/control.hpp"

namespace kvtsim::userdb {

inline constexpr std::size_t kMaxName = 32;
inline constexpr std::size_t kMaxPassword = 16;
// Linux user ids: IPMI user n is 1000 + n; the internal account has IPMI
// user 1, so it never competes with the ids 2 to 11 that a restore hands out.
inline constexpr unsigned kIpmiUidBase = 1000;
inline constexpr unsigned kMarnintUid = 1001;

std::vector<User> load();
void store(const std::vector<User> &users);
std::optional<User> find(std::string_view name);
bool uid_taken(unsigned uid);

// 0 on success, -1 when the change is refused (bad name or password, a
// name or uid in use, an unknown user). Roles are kept in their canonical
// form (the order of the role table).
int add(const User &user);
int remove(std::string_view name);
int set_password(std::string_view name, std::string_view password);
int set_roles(std::string_view name, std::string_view roles);

} // namespace kvtsim::userdb
