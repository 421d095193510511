#include "sim/services/objects.hpp"

#include <array>
#include <optional>

#include "sim/control.hpp"
#include "sim/em/audit.hpp"
#include "sim/services/object_schema.hpp"
#include "sim/users/cli_mode_file.hpp"
#include "sim/users/user_db.hpp"

namespace kvtsim {

namespace {

constexpr std::uint32_t kSetCommand = 3;
constexpr std::string_view kUsersPrefix = "/X/users/";
constexpr std::string_view kCommitPath = "/X/network/commitpending";
constexpr std::string_view kDiagModePath = "/HOST/diag/mode";
constexpr std::string_view kHiddenPassword = "*****";

// A commit makes each pending network setting the live one.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kPendingToLive{{
    {"/X/network/pendingipdiscovery", "/X/network/ipdiscovery"},
    {"/X/network/pendingipaddress", "/X/network/ipaddress"},
    {"/X/network/pendingipnetmask", "/X/network/ipnetmask"},
    {"/X/network/pendingipgateway", "/X/network/ipgateway"},
}};

std::string store_file()
{
    return sim_path("objects");
}

// "/X/users/<name>/<attribute>" of an existing user.
struct UserObject {
    std::string name;
    std::string attribute;
};

std::optional<UserObject> user_object(std::string_view path)
{
    if (!path.starts_with(kUsersPrefix))
        return std::nullopt;
    path.remove_prefix(kUsersPrefix.size());
    const auto slash = path.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    UserObject object{std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
    const bool known = object.attribute == "password" || object.attribute == "role" ||
                       object.attribute == "cli_mode";
    if (!known || !userdb::find(object.name))
        return std::nullopt;
    return object;
}

bool user_value_accepted(const UserObject &object, std::string_view value)
{
    if (object.attribute == "password")
        return user_password_accepted(value);
    if (object.attribute == "role")
        return user_roles_accepted(value);
    return user_cli_mode_accepted(value);
}

std::string user_value(const UserObject &object)
{
    if (object.attribute == "password")
        return std::string(kHiddenPassword); // write-only, as on the SP
    if (object.attribute == "role")
        return userdb::find(object.name).value_or(User{}).roles;
    return cli_mode_of(object.name).value_or("");
}

int apply_user_value(const UserObject &object, std::string_view value)
{
    int result = 0;
    if (object.attribute == "password")
        result = userdb::set_password(object.name, value);
    else if (object.attribute == "role")
        result = userdb::set_roles(object.name, value);
    else
        result = set_cli_mode(object.name, value);
    return result == 0 ? 0 : kLuapiIoError;
}

int store_value(std::string_view path, std::string_view value)
{
    const bool commit = path == kCommitPath && value == "true";
    const bool written = edit_locked(store_file(), [&](std::string &text) {
        put_in_text(text, path, value);
        if (commit) {
            for (const auto &[pending, live] : kPendingToLive)
                put_in_text(text, live, find_in_text(text, pending).value_or(""));
        }
        return true;
    });
    return written ? 0 : kLuapiIoError;
}

} // namespace

int object_read(std::string_view path, std::string &value)
{
    if (const auto object = user_object(path)) {
        value = user_value(*object);
        return 0;
    }
    if (!find_object(path))
        return kLuapiNoObject;
    value = find_in_text(read_locked(store_file()), path).value_or("");
    return 0;
}

int object_check(std::string_view path, std::string_view value)
{
    if (const auto object = user_object(path))
        return user_value_accepted(*object, value) ? 0 : kLuapiBadValue;
    const ObjectRule *rule = find_object(path);
    if (!rule)
        return kLuapiNoObject;
    return rule->accepts(value) ? 0 : kLuapiBadValue;
}

int object_write(std::string_view path, std::string_view value)
{
    if (const int refused = object_check(path, value))
        return refused;
    const auto object = user_object(path);
    const int result = object ? apply_user_value(*object, value) : store_value(path, value);
    if (result != 0)
        return result;
    // The SP keeps the POST diag mode in a persisted variable as well.
    if (path == kDiagModePath)
        nv_set("sp_post_diag_mode", value);
    audit_post_luapi(kSetCommand, 0, path, value);
    return 0;
}

Pairs object_list()
{
    const Pairs stored = parse_pairs(read_locked(store_file()));
    Pairs all;
    for (const ObjectRule &rule : object_schema())
        all.emplace_back(rule.path, find_pair(stored, rule.path).value_or(""));
    for (const User &user : userdb::load()) {
        const std::string prefix = std::string(kUsersPrefix) + user.name + '/';
        all.emplace_back(prefix + "role", user.roles);
        all.emplace_back(prefix + "cli_mode", cli_mode_of(user.name).value_or(""));
    }
    return all;
}

void object_store_reset(const Pairs &values)
{
    write_locked(store_file(), format_pairs(values));
}

// ---- control API ----------------------------------------------------------

std::optional<std::string> object_get(std::string_view path)
{
    std::string value;
    if (object_read(path, value) != 0)
        return std::nullopt;
    return value;
}

int object_set(std::string_view path, std::string_view value)
{
    return object_write(path, value) == 0 ? 0 : -1;
}

} // namespace kvtsim
