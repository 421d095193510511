// Section 1: layout version and the SP MAC the card belongs to.
#include <cstdio>

#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

std::string mac_text(const unsigned char *mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

Node decode_header(const kvt::Image &image)
{
    const char *meaning = "unknown";
    if (image.hdr_version == kvt::kImageVersion)
        meaning = "current";
    else if (image.hdr_version == kvt::kInvalidatedVersion)
        meaning = "invalidated by a fatal stop";
    return Node::object()
        .set("version", Node::hex(image.hdr_version, 2))
        .set("version_meaning", Node::text(meaning))
        .set("mac", Node::text(mac_text(image.sp_mac)));
}

} // namespace kvtcard
