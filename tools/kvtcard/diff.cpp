// Field-level differences between two cards.
#include <map>
#include <string_view>

#include "tools/kvtcard/commands.hpp"

namespace kvtcard {

namespace {

using Fields = std::vector<std::pair<std::string, Node>>;

constexpr const char *kAbsent = "(absent)";

bool is_meta(const std::string &field)
{
    return field == "source" || field == "format" || field.starts_with("folded.");
}

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
        if (!is_meta(field.first))
            fields.push_back(std::move(field));
    return fields;
}

// The value as the card has it (JSON keeps numbers numbers), a password
// masked unless asked for.
Node shown(const std::string &field, const Node &value, bool show_passwords)
{
    if (!is_password(field) || show_passwords)
        return value;
    return password_node(value.raw_text(), false);
}

// Two leaves are the same when plain text shows them alike.
bool same(const Node *a, const Node *b)
{
    return a && b && a->plain() == b->plain();
}

} // namespace

Node diff_cards(const Card &a, const Card &b, const DecodeOptions &options)
{
    const Fields fa = card_fields(a);
    const Fields fb = card_fields(b);
    const std::map<std::string, Node> in_a(fa.begin(), fa.end());
    const std::map<std::string, Node> in_b(fb.begin(), fb.end());
    const auto find = [](const std::map<std::string, Node> &fields, const std::string &field) {
        const auto found = fields.find(field);
        return found == fields.end() ? nullptr : &found->second;
    };

    Node differences = Node::array();
    const auto side = [&](const std::string &field, const Node *value) {
        return value ? shown(field, *value, options.show_passwords) : Node::text(kAbsent);
    };
    const auto report = [&](const std::string &field, const Node *va, const Node *vb) {
        Node entry = Node::object()
                         .set("field", Node::text(field))
                         .set("a", side(field, va))
                         .set("b", side(field, vb));
        // Two different passwords may mask alike.
        if (is_password(field) && va && vb && !options.show_passwords)
            entry.set("note", Node::text("passwords differ"));
        differences.push(std::move(entry));
    };
    for (const auto &[field, value] : fa)
        if (!same(&value, find(in_b, field)))
            report(field, &value, find(in_b, field));
    for (const auto &[field, value] : fb)
        if (!find(in_a, field))
            report(field, nullptr, &value);

    const bool same = differences.children().empty();
    return Node::object()
        .set("a", Node::text(a.source))
        .set("b", Node::text(b.source))
        .set("same", Node::boolean(same))
        .set("differences", std::move(differences));
}

} // namespace kvtcard
