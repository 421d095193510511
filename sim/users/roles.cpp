// The user-management library's serialized roles: comma-separated role
// names, one bit of the role mask each. This table is the only place that
// knows the names and their bits.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/control.hpp"
#include "sim/users/user_db.hpp"

namespace kvtsim {

namespace {

struct Role {
    std::string_view name;
    std::uint32_t bit;
};

constexpr std::array<Role, 8> kRoles{{
    {"admin", 0x01},
    {"user", 0x02},
    {"console", 0x04},
    {"reset", 0x08},
    {"service", 0x10},
    {"operator", 0x20},
    {"read-only", 0x40},
    {"ipmi", 0x80000000u},
}};

std::string_view trim_blanks(std::string_view word)
{
    while (!word.empty() && (word.front() == ' ' || word.front() == '\t'))
        word.remove_prefix(1);
    while (!word.empty() && (word.back() == ' ' || word.back() == '\t'))
        word.remove_suffix(1);
    return word;
}

std::uint32_t role_bit(std::string_view name)
{
    for (const Role &role : kRoles)
        if (role.name == name)
            return role.bit;
    return 0; // names the library does not know grant nothing
}

} // namespace

std::uint32_t roles_to_mask(std::string_view roles)
{
    std::uint32_t mask = 0;
    while (!roles.empty()) {
        const auto comma = roles.find(',');
        mask |= role_bit(trim_blanks(roles.substr(0, comma)));
        if (comma == std::string_view::npos)
            break;
        roles.remove_prefix(comma + 1);
    }
    return mask;
}

std::string mask_to_roles(std::uint32_t mask)
{
    std::string roles;
    for (const Role &role : kRoles) {
        if ((mask & role.bit) == 0)
            continue;
        if (!roles.empty())
            roles += ',';
        roles += role.name;
    }
    return roles;
}

namespace userdb {

bool roles_acceptable(std::string_view roles)
{
    if (roles.empty())
        return true;
    while (true) {
        const auto comma = roles.find(',');
        if (role_bit(trim_blanks(roles.substr(0, comma))) == 0)
            return false;
        if (comma == std::string_view::npos)
            return true;
        roles.remove_prefix(comma + 1);
    }
}

} // namespace userdb

} // namespace kvtsim
