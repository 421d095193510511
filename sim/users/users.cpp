// Users through the control API: direct changes of the user database that
// announce nothing. Whoever drives them decides what the SP announces (an
// IPMI user command, or a set of a "/X/users" object through object_set).
#include "sim/control.hpp"
#include "sim/users/user_db.hpp"

namespace kvtsim {

std::vector<User> users()
{
    return userdb::load();
}

int user_add(const User &user)
{
    return userdb::add(user);
}

int user_delete(std::string_view name)
{
    return userdb::remove(name);
}

int user_set_password(std::string_view name, std::string_view password)
{
    return userdb::set_password(name, password);
}

std::string password_attribute(std::string_view name, std::string_view password)
{
    return userdb::password_attribute(name, password);
}

int user_set_roles(std::string_view name, std::string_view roles)
{
    return userdb::set_roles(name, roles);
}

} // namespace kvtsim
