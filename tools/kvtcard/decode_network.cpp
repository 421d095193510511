// Section 3: static or DHCP, and the IPv4 address, netmask and gateway.
#include <arpa/inet.h>
#include <cstdio>

#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

namespace {

std::string address_text(const kvt::NetAddress &address, bool ipv6)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(ipv6 ? AF_INET6 : AF_INET, address.bytes, text, sizeof text) == nullptr)
        return "?";
    return text;
}

} // namespace

Node decode_network(const kvt::Image &image)
{
    const std::uint32_t flags = image.netflags.get();
    const bool is_static = (flags & kvt::KVT_NET_STATIC) != 0;
    const bool ipv6 = (flags & kvt::KVT_NET_IPV6) != 0;
    Node network = Node::object()
                       .set("netflags", Node::hex(flags, 8))
                       .set("discovery", Node::text(is_static ? "static" : "dhcp"))
                       .set("address_family", Node::text(ipv6 ? "ipv6" : "ipv4"));
    // DHCP leaves the address fields without meaning.
    if (!is_static)
        return network;
    return network.set("ip_address", Node::text(address_text(image.ipaddress, ipv6)))
        .set("netmask", Node::text(address_text(image.ipnetmask, ipv6)))
        .set("gateway", Node::text(address_text(image.ipgateway, ipv6)));
}

} // namespace kvtcard
