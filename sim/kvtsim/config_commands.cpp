// kvtsim commands for the configuration: objects, users, persisted
// variables and the CLI-mode file.
#include <charconv>
#include <iostream>

#include "platform/card_lib.h"
#include "sim/control.hpp"
#include "sim/kvtsim/args.hpp"
#include "sim/kvtsim/commands.hpp"
#include "sim/root/files.hpp"
#include "sim/services/objects.hpp"

namespace kvtsim::cli {

namespace {

int run_get(const Args &args)
{
    if (args.size() != 1)
        return kUsage;
    return print_value(object_get(args[0]), "object", args[0]);
}

int run_set(const Args &args)
{
    if (args.size() != 2)
        return kUsage;
    switch (object_write(args[0], args[1])) {
    case 0:
        return 0;
    case kLuapiNoObject:
        return status(-1, "set (no such object)");
    case kLuapiBadValue:
        return status(-1, "set (value refused)");
    default:
        return status(-1, "set");
    }
}

int run_objects(const Args &args)
{
    if (!args.empty())
        return kUsage;
    for (const auto &[path, value] : object_list())
        std::cout << path << " = " << value << '\n';
    return 0;
}

int run_users(const Args &args)
{
    if (!args.empty())
        return kUsage;
    for (const User &user : users())
        std::cout << user.name << " uid=" << user.uid << " roles=" << user.roles
                  << (user.proxy ? " proxy" : "") << '\n';
    return 0;
}

int run_user_add(const Args &args)
{
    const bool proxy = args.size() == 5 && args[4] == "proxy";
    if (args.size() != 4 && !proxy)
        return kUsage;
    User user{args[0], 0, args[2], args[3], proxy};
    const auto [end, error] =
        std::from_chars(args[1].data(), args[1].data() + args[1].size(), user.uid);
    if (error != std::errc{} || end != args[1].data() + args[1].size())
        return kUsage;
    return status(user_add(user), "user-add");
}

int run_user_del(const Args &args)
{
    if (args.size() != 1)
        return kUsage;
    return status(user_delete(args[0]), "user-del");
}

int run_user_passwd(const Args &args)
{
    if (args.size() != 2)
        return kUsage;
    return status(user_set_password(args[0], args[1]), "user-passwd");
}

int run_user_roles(const Args &args)
{
    if (args.size() != 2)
        return kUsage;
    return status(user_set_roles(args[0], args[1]), "user-roles");
}

// The keyswitch has four positions, 0 to 3. (The control API still sets
// any value, as a broken service might.)
bool nv_value_in_range(const std::string &name, const std::string &value)
{
    return name != "keyswitch_state" || (value.size() == 1 && value[0] >= '0' && value[0] <= '3');
}

int run_nv(const Args &args)
{
    if (args.size() > 2)
        return kUsage;
    if (args.size() == 2 && !nv_value_in_range(args[0], args[1]))
        return refuse("keyswitch_state " + args[1] + " is not a keyswitch position (0 to 3)");
    if (args.size() == 2)
        return status(nv_set(args[0], args[1]), "nv (unknown variable or bad value)");
    if (args.size() == 1)
        return print_value(nv_get(args[0]), "variable", args[0]);
    unsigned row = 0;
    for (const nv_file_entry &entry : nv_file_table)
        std::cout << row++ << ' ' << entry.name << " = " << nv_get(entry.name).value_or("") << '\n';
    return 0;
}

int run_climode(const Args &args)
{
    if (args.size() > 1)
        return kUsage;
    if (args.empty()) {
        std::cout << cli_mode_file();
        return 0;
    }
    const auto text = files::read(args[0]);
    if (!text) {
        std::cerr << "kvtsim: cannot read " << args[0] << '\n';
        return 1;
    }
    return status(write_cli_mode_file(*text), "climode");
}

constexpr Command kCommands[] = {
    {"get", "PATH  print a configuration object's value", run_get},
    {"set", "PATH VALUE  set an object as an administrator would (announced)", run_set},
    {"objects", " list every configuration object with its value", run_objects},
    {"users", " list the user database", run_users},
    {"user-add", "NAME UID PASSWORD ROLES [proxy]  add a user (roles e.g. admin,operator)",
     run_user_add},
    {"user-del", "NAME  delete a user", run_user_del},
    {"user-passwd", "NAME PASSWORD  set a user's password", run_user_passwd},
    {"user-roles", "NAME ROLES  set a user's roles", run_user_roles},
    {"nv", "[NAME [VALUE]]  list, print or set persisted variables (a change is announced)",
     run_nv},
    {"climode", "[FILE]  print the CLI-mode file, or replace it with FILE's contents", run_climode},
};

} // namespace

std::span<const Command> config_commands()
{
    return kCommands;
}

} // namespace kvtsim::cli
