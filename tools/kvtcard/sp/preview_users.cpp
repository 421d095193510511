// Which users a restore of the card would add, delete or change on the
// simulated SP, following the daemon's user restore step by step.
#include <algorithm>
#include <span>

#include "sections/user_data.hpp"
#include "sections/users.hpp"
#include "sim/control.hpp"
#include "tools/kvtcard/sp/preview.hpp"

namespace kvtcard {

namespace {

struct SavedUser {
    std::string name;
    std::string password;
    std::uint32_t mask;
};

bool skipped(const std::string &name)
{
    return skip_user(name.c_str()) == 1 || name == "root";
}

// The SP's users the restore deletes: at most 11, root and filtered
// accounts left out.
std::vector<kvtsim::User> users_replaced(const std::vector<kvtsim::User> &sp)
{
    std::vector<kvtsim::User> list;
    for (const kvtsim::User &user : sp) {
        if (list.size() == kvt::kMaxUsers)
            break;
        if (!skipped(user.name))
            list.push_back(user);
    }
    return list;
}

std::vector<SavedUser> users_added(const kvt::Image &image)
{
    std::vector<SavedUser> list;
    const std::span entries(image.user_table);
    const std::span roles(image.role_table);
    for (std::size_t k = 0; k < kvt::kMaxUsers; ++k) {
        const kvt::UserEntry &entry = entries[k];
        const std::uint32_t word = roles[k].get();
        const std::string name(entry.name.view());
        if (word == 0 || skipped(name))
            continue;
        list.push_back(
            {name, std::string(entry.password.view()), restored_role_mask(image, entry, word)});
    }
    return list;
}

const kvtsim::User *find_user(const std::vector<kvtsim::User> &users, const std::string &name)
{
    const auto it = std::find_if(users.begin(), users.end(),
                                 [&](const kvtsim::User &u) { return u.name == name; });
    return it == users.end() ? nullptr : &*it;
}

std::string root_outcome(const kvt::Image &image, const std::vector<kvtsim::User> &sp)
{
    const kvtsim::User *current = find_user(sp, "root");
    for (const kvt::UserEntry &entry : image.user_table) {
        if (entry.name.view() != "root")
            continue;
        if (current == nullptr)
            return "re-created from the card";
        return current->password == entry.password.view() ? "unchanged" : "password changed";
    }
    return current == nullptr ? "absent on both" : "deleted (no root on the card)";
}

Node saved_user_node(const SavedUser &user)
{
    return Node::object()
        .set("name", Node::text(user.name))
        .set("role_mask", Node::hex(user.mask, 8))
        .set("roles", Node::text(kvtsim::mask_to_roles(user.mask)));
}

std::string changes_of(const kvtsim::User &current, const SavedUser &saved)
{
    std::string changes;
    if (current.password != saved.password)
        changes = "password";
    if (kvtsim::roles_to_mask(current.roles) != saved.mask)
        changes += changes.empty() ? "roles" : ", roles";
    return changes;
}

} // namespace

Node preview_users(const kvt::Image &image)
{
    if (kvt::user_data_backup_off(image))
        return Node::object()
            .set("restored", Node::boolean(false))
            .set("reason", Node::text("user-data backup is disabled on the card"));

    const std::vector<kvtsim::User> sp = kvtsim::users();
    const std::vector<kvtsim::User> replaced = users_replaced(sp);
    const std::vector<SavedUser> saved = users_added(image);
    Node added = Node::array(), deleted = Node::array(), changed = Node::array(),
         unchanged = Node::array(), failing = Node::array();
    for (const SavedUser &user : saved) {
        if (const kvtsim::User *current = find_user(replaced, user.name)) {
            const std::string changes = changes_of(*current, user);
            if (changes.empty())
                unchanged.push(Node::text(user.name));
            else
                changed.push(Node::object()
                                 .set("name", Node::text(user.name))
                                 .set("changes", Node::text(changes)));
        } else if (find_user(sp, user.name) != nullptr) {
            // Beyond the 11 the restore deletes: the add fails and the
            // account keeps its password and roles.
            failing.push(Node::text(user.name));
        } else {
            added.push(saved_user_node(user));
        }
    }
    for (const kvtsim::User &user : replaced)
        if (std::none_of(saved.begin(), saved.end(),
                         [&](const SavedUser &s) { return s.name == user.name; }))
            deleted.push(Node::text(user.name));

    return Node::object()
        .set("restored", Node::boolean(true))
        .set("root", Node::text(root_outcome(image, sp)))
        .set("added", std::move(added))
        .set("deleted", std::move(deleted))
        .set("changed", std::move(changed))
        .set("unchanged", std::move(unchanged))
        .set("add_fails", std::move(failing));
}

} // namespace kvtcard
