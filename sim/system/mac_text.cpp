#include "sim/system/mac_text.hpp"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdio>

namespace kvtsim {

std::string mac_text(const Mac &mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::optional<Mac> parse_mac(std::string_view text)
{
    constexpr std::ptrdiff_t kMostDigits = 2;
    constexpr int kHex = 16;
    Mac mac{};
    const char *at = text.data();
    const char *const end = text.data() + text.size();
    for (std::size_t i = 0; i < mac.size(); ++i) {
        if (i > 0 && (at == end || *at++ != ':'))
            return std::nullopt;
        const char *const group_end = at + std::min(kMostDigits, end - at);
        const auto [stop, error] = std::from_chars(at, group_end, mac.at(i), kHex);
        if (error != std::errc())
            return std::nullopt;
        at = stop;
    }
    if (at != end)
        return std::nullopt;
    return mac;
}

} // namespace kvtsim
