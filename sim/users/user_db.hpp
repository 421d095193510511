// The simulated SP's user database, <root>/sim/users (mode 0600): one
// account a line, "name:uid:proxy:roles:password", in the order the
// accounts were added (which is the order the library enumerates them in).
// Shared by the user-management library (sim/users/user_mgmt.cpp), the control
// API (sim/users/users.cpp) and the "/X/users" objects. No faults and no audit
// events here: the callers add what their interface has.
//
// It keeps the rules of a Linux user database: account names as useradd
// takes them (names_rule below), no password in clear text. A password is
// stored as its hash, "~" then a 4-digit salt and an 11-digit digest in
// lowercase hex (16 characters, the width of the card's password field);
// a text that already has that form is a hash handed back (a restore) and
// is stored as it is. The empty text is "no password": the account cannot
// log in with one.
#pragma once

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/control.hpp"

namespace kvtsim::userdb {

inline constexpr std::size_t kMaxName = 32;
inline constexpr std::size_t kHashLength = 16;
// Linux user ids: IPMI user n is 1000 + n; the internal account has IPMI
// user 1, so it never competes with the ids 2 to 11 that a restore hands out.
inline constexpr unsigned kIpmiUidBase = 1000;
inline constexpr unsigned kMarnintUid = 1001;

std::vector<User> load();
void store(const std::vector<User> &users);
std::optional<User> find(std::string_view name);
bool uid_taken(unsigned uid);

// useradd's rule (shadow 4.13, without --badname): letters, digits,
// underscores, periods and dashes, a dash not first, an optional dollar
// sign last; not all digits, not "." or ".."; 1 to 32 characters.
bool name_acceptable(std::string_view name);
// A role text of known role names separated by commas (empty: no roles).
bool roles_acceptable(std::string_view roles);
// A password text the database takes: anything without a newline.
bool password_acceptable(std::string_view password);
// The attribute stored for `password` of account `name`: the text itself
// when it is empty or already a hash, else its hash. The salt comes from
// the account name, so one password gives one attribute per account on
// every simulated SP.
std::string password_attribute(std::string_view name, std::string_view password);
bool is_hash(std::string_view text);

// 0 on success, -1 when the change is refused (bad name, roles or
// password, a name or uid in use, an unknown user). Roles are kept in their
// canonical form (the order of the role table); `user.password` is a text
// to set, as for set_password.
int add(const User &user);
int remove(std::string_view name);
int set_password(std::string_view name, std::string_view password);
int set_roles(std::string_view name, std::string_view roles);

} // namespace kvtsim::userdb
