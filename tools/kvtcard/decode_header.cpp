// Section 1: layout version and the SP MAC the card belongs to.
#include <cstdio>

#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

namespace {

const char *version_meaning(const Card &card)
{
    switch (card_verdict(card).kind) {
    case cardlib::CardKind::blank:
        return "erased (blank card)";
    case cardlib::CardKind::invalidated:
        return "invalidated by a fatal stop";
    case cardlib::CardKind::unknown_version:
        return "unknown";
    default:
        return "current";
    }
}

} // namespace

std::string mac_text(const unsigned char *mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

Node decode_header(const Card &card)
{
    return Node::object()
        .set("version", Node::hex(card.image.hdr_version, 2))
        .set("version_meaning", Node::text(version_meaning(card)))
        .set("mac", Node::text(mac_text(card.image.sp_mac)));
}

} // namespace kvtcard
