// The whole card, section by section.
#include "tools/kvtcard/decode.hpp"
#include "tools/kvtcard/verify.hpp"

namespace kvtcard {

Node decode_card(const Card &card, const DecodeOptions &options)
{
    const kvt::Image &image = card.image;
    return Node::object()
        .set("source", Node::text(card.source))
        .set("format", Node::text(card.format))
        .set("verdict", Node::text(cardlib::verdict_reason(card_verdict(card))))
        .set("header", decode_header(card))
        .set("users", decode_users(image, options))
        .set("network", decode_network(image))
        .set("post", decode_post(image))
        .set("flags", decode_flags(image))
        .set("cli", decode_cli(image))
        .set("alert_rules", decode_alert_rules(image))
        .set("customer_info", decode_customer_info(image))
        .set("console", decode_console(image))
        .set("cli_modes", decode_cli_modes(image))
        .set("checksums", decode_checksums(image));
}

} // namespace kvtcard
