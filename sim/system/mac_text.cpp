#include "sim/system/mac_text.hpp"

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
    Mac mac{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != ':')
                return std::nullopt;
            ++at;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        for (; at < text.size() && digits < 2; ++at, ++digits) {
            const char c = text[at];
            const int v = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (v < 0)
                break;
            value = value * 16 + static_cast<unsigned>(v);
        }
        if (digits == 0)
            return std::nullopt;
        mac.at(i) = static_cast<unsigned char>(value);
    }
    if (at != text.size())
        return std::nullopt;
    return mac;
}

} // namespace kvtsim
