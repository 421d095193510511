// The simulated SP's user database, shaped and read by tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/control.hpp"

namespace kvttest {

// The user called `name`, if there is one.
inline std::optional<kvtsim::User> sp_user(const std::string &name)
{
    for (const kvtsim::User &user : kvtsim::users())
        if (user.name == name)
            return user;
    return std::nullopt;
}

// The roles text of the user called `name`, "(no such user)" when none is.
inline std::string sp_roles(const std::string &name)
{
    const auto user = sp_user(name);
    return user ? user->roles : "(no such user)";
}

// Leaves exactly `wanted` in the user database.
inline void replace_users(const std::vector<kvtsim::User> &wanted)
{
    for (const kvtsim::User &user : kvtsim::users())
        kvtsim::user_delete(user.name);
    for (const kvtsim::User &user : wanted)
        ASSERT_EQ(kvtsim::user_add(user), 0) << user.name;
}

} // namespace kvttest
