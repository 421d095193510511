// Sections 2 and 9: the user table and the role word of each entry.
#include <span>

#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

namespace {

constexpr const char *kMasked = "********";

bool entry_used(const kvt::UserEntry &entry, std::uint32_t role)
{
    return entry.name.chars[0] != '\0' || role != 0 || entry.privilege != 0;
}

} // namespace

const char *privilege_name(unsigned char privilege)
{
    if (privilege == kvt::kPrivilegeAdmin)
        return "administrator";
    if (privilege == kvt::kPrivilegeOperator)
        return "operator";
    return "none";
}

Node password_node(std::string_view password, bool show)
{
    if (show || password.empty())
        return Node::text(password);
    return Node::text(kMasked);
}

Node decode_users(const kvt::Image &image, const DecodeOptions &options)
{
    Node users = Node::array();
    const std::span entries(image.user_table);
    const std::span roles(image.role_table);
    for (std::size_t k = 0; k < kvt::kMaxUsers; ++k) {
        const kvt::UserEntry &entry = entries[k];
        const std::uint32_t role = roles[k].get();
        if (!options.all && !entry_used(entry, role))
            continue;
        users.push(
            Node::object()
                .set("slot", Node::number(static_cast<long long>(k)))
                .set("name", text_of(entry.name))
                .set("password", password_node(entry.password.view(), options.show_passwords))
                .set("privilege", Node::number(entry.privilege))
                .set("privilege_name", Node::text(privilege_name(entry.privilege)))
                .set("role_mask", Node::hex(role, 8))
                // The restore skips an entry whose role word is 0.
                .set("restored", Node::boolean(role != 0)));
    }
    return users;
}

} // namespace kvtcard
