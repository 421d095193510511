// The whole card, section by section.
#include "tools/kvtcard/decode.hpp"
#include "tools/kvtcard/verify.hpp"

namespace kvtcard {

namespace {

// How many entries the compact document leaves out.
Node folded(const Node &users, const Node &rules, const Node &modes)
{
    const auto left_out = [](std::size_t all, const Node &shown) {
        return Node::number(static_cast<long long>(all - shown.children().size()));
    };
    return Node::object()
        .set("user_slots", left_out(kvt::kMaxUsers, users))
        .set("alert_rules", left_out(kvt::kAlertRules, rules))
        .set("cli_mode_slots", left_out(kvt::kMaxUsers, modes));
}

} // namespace

Node decode_card(const Card &card, const DecodeOptions &options)
{
    const kvt::Image &image = card.image;
    Node users = decode_users(image, options);
    Node rules = decode_alert_rules(image, options);
    Node modes = decode_cli_modes(image, options);
    Node fold = folded(users, rules, modes);
    Node document = Node::object()
                        .set("source", Node::text(card.source))
                        .set("format", Node::text(card.format))
                        .set("verdict", Node::text(cardlib::verdict_reason(card_verdict(card))))
                        .set("header", decode_header(card))
                        .set("users", std::move(users))
                        .set("network", decode_network(image))
                        .set("post", decode_post(image))
                        .set("flags", decode_flags(image))
                        .set("cli", decode_cli(image))
                        .set("alert_rules", std::move(rules))
                        .set("customer_info", decode_customer_info(image))
                        .set("console", decode_console(image))
                        .set("cli_modes", std::move(modes))
                        .set("checksums", decode_checksums(image));
    if (!options.all)
        document.set("folded", std::move(fold));
    return document;
}

} // namespace kvtcard
