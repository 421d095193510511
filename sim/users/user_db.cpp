#include "sim/users/user_db.hpp"

#include <algorithm>
#include <charconv>
#include <string>

#include "sim/root/locked_text.hpp"

namespace kvtsim::userdb {

namespace {

std::string db_file()
{
    return sim_path("users");
}

std::string format_user(const User &user)
{
    return user.name + ':' + std::to_string(user.uid) + ':' + (user.proxy ? "1" : "0") + ':' +
           user.roles + ':' + user.password + '\n';
}

// Splits off the text up to the next colon.
std::string_view next_field(std::string_view &line)
{
    const auto colon = line.find(':');
    const std::string_view field = line.substr(0, colon);
    line = colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
    return field;
}

std::optional<User> parse_user(std::string_view line)
{
    User user;
    user.name = next_field(line);
    const std::string_view uid = next_field(line);
    const std::string_view proxy = next_field(line);
    user.roles = next_field(line);
    user.password = line; // last, so it may hold colons
    const auto [end, error] = std::from_chars(uid.data(), uid.data() + uid.size(), user.uid);
    if (user.name.empty() || error != std::errc{} || end != uid.data() + uid.size())
        return std::nullopt;
    user.proxy = proxy == "1";
    return user;
}

std::vector<User> parse_users(std::string_view text)
{
    std::vector<User> users;
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (auto user = parse_user(text.substr(0, end)))
            users.push_back(std::move(*user));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return users;
}

std::string format_users(const std::vector<User> &users)
{
    std::string text;
    for (const User &user : users)
        text += format_user(user);
    return text;
}

// One locked read-modify-write of the database; `change` returns 0 to
// have its result stored.
int edit(const std::function<int(std::vector<User> &)> &change)
{
    int result = -1;
    const bool written = edit_locked(
        db_file(),
        [&](std::string &text) {
            std::vector<User> users = parse_users(text);
            result = change(users);
            if (result != 0)
                return false;
            text = format_users(users);
            return true;
        },
        files::kPrivateMode);
    return written ? result : -1;
}

auto by_name(std::string_view name)
{
    return [name](const User &user) { return user.name == name; };
}

} // namespace

std::vector<User> load()
{
    return parse_users(read_locked(db_file()));
}

void store(const std::vector<User> &users)
{
    std::vector<User> stored = users;
    for (User &user : stored)
        user.password = password_attribute(user.name, user.password);
    write_locked(db_file(), format_users(stored), files::kPrivateMode);
}

std::optional<User> find(std::string_view name)
{
    for (User &user : load())
        if (user.name == name)
            return std::move(user);
    return std::nullopt;
}

bool uid_taken(unsigned uid)
{
    const auto users = load();
    return std::any_of(users.begin(), users.end(), [uid](const User &u) { return u.uid == uid; });
}

int add(const User &user)
{
    if (!name_acceptable(user.name) || !roles_acceptable(user.roles) ||
        !password_acceptable(user.password))
        return -1;
    return edit([&](std::vector<User> &users) {
        const bool clash = std::any_of(users.begin(), users.end(), [&](const User &u) {
            return u.name == user.name || u.uid == user.uid;
        });
        if (clash)
            return -1;
        User added = user;
        added.roles = mask_to_roles(roles_to_mask(user.roles));
        added.password = password_attribute(user.name, user.password);
        users.push_back(std::move(added));
        return 0;
    });
}

int remove(std::string_view name)
{
    return edit([&](std::vector<User> &users) {
        const auto gone = std::remove_if(users.begin(), users.end(), by_name(name));
        if (gone == users.end())
            return -1;
        users.erase(gone, users.end());
        return 0;
    });
}

int set_password(std::string_view name, std::string_view password)
{
    if (!password_acceptable(password))
        return -1;
    return edit([&](std::vector<User> &users) {
        const auto user = std::find_if(users.begin(), users.end(), by_name(name));
        if (user == users.end())
            return -1;
        user->password = password_attribute(name, password);
        return 0;
    });
}

int set_roles(std::string_view name, std::string_view roles)
{
    if (!roles_acceptable(roles))
        return -1;
    return edit([&](std::vector<User> &users) {
        const auto user = std::find_if(users.begin(), users.end(), by_name(name));
        if (user == users.end())
            return -1;
        user->roles = mask_to_roles(roles_to_mask(roles));
        return 0;
    });
}

} // namespace kvtsim::userdb
