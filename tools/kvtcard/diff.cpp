// Field-level differences between two cards.
#include <map>
#include <string_view>

#include "tools/kvtcard/commands.hpp"

namespace kvtcard {

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

constexpr const char *kAbsent = "(absent)";

bool is_password(std::string_view field)
{
    constexpr std::string_view suffix = ".password";
    return field.size() >= suffix.size() && field.substr(field.size() - suffix.size()) == suffix;
}

// The card's fields without where it came from.
Fields card_fields(const Card &card)
{
    DecodeOptions raw;
    raw.show_passwords = true;
    Fields fields;
    for (auto &field : flatten(decode_card(card, raw)))
        if (field.first != "source" && field.first != "format")
            fields.push_back(std::move(field));
    return fields;
}

std::string shown(const std::string &field, const std::string &value, bool show_passwords)
{
    if (!is_password(field) || show_passwords || value == kAbsent)
        return value;
    return password_node(value, false).plain();
}

} // namespace

Node diff_cards(const Card &a, const Card &b, const DecodeOptions &options)
{
    const Fields fa = card_fields(a);
    const Fields fb = card_fields(b);
    const std::map<std::string, std::string> in_a(fa.begin(), fa.end());
    const std::map<std::string, std::string> in_b(fb.begin(), fb.end());

    Node differences = Node::array();
    const auto report = [&](const std::string &field, const std::string &va,
                            const std::string &vb) {
        const bool passwords_differ = is_password(field) && va != kAbsent && vb != kAbsent;
        Node entry = Node::object()
                         .set("field", Node::text(field))
                         .set("a", Node::text(shown(field, va, options.show_passwords)))
                         .set("b", Node::text(shown(field, vb, options.show_passwords)));
        // Two different passwords may mask alike.
        if (passwords_differ && !options.show_passwords)
            entry.set("note", Node::text("passwords differ"));
        differences.push(std::move(entry));
    };
    for (const auto &[field, value] : fa) {
        const auto other = in_b.find(field);
        const std::string vb = other == in_b.end() ? kAbsent : other->second;
        if (vb != value)
            report(field, value, vb);
    }
    for (const auto &[field, value] : fb)
        if (in_a.find(field) == in_a.end())
            report(field, kAbsent, value);

    const bool same = differences.children().empty();
    return Node::object()
        .set("a", Node::text(a.source))
        .set("b", Node::text(b.source))
        .set("same", Node::boolean(same))
        .set("differences", std::move(differences));
}

} // namespace kvtcard
