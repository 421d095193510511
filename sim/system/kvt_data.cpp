// The KVT-data file "/var/tmp/KVT-data": the base MAC address and the SP
// MAC address that the platform records for this SP.
#include <array>
#include <cstdio>

#include "sim/control.hpp"
#include "sim/root/files.hpp"

namespace kvtsim {

namespace {
constexpr const char *kKvtDataPath = "/var/tmp/KVT-data";
}

Mac sp_mac()
{
    Mac mac{};
    const auto text = files::read(path_in_root(kKvtDataPath));
    if (!text)
        return mac;
    std::array<unsigned, 12> v{};
    const int n =
        std::sscanf(text->c_str(), "%x:%x:%x:%x:%x:%x %x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2],
                    &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11]);
    if (n != 12)
        return mac;
    for (std::size_t i = 0; i < mac.size(); ++i)
        mac.at(i) = static_cast<unsigned char>(v.at(6 + i));
    return mac;
}

int write_kvt_data(const std::string &text)
{
    return files::replace(path_in_root(kKvtDataPath), text) ? 0 : -1;
}

} // namespace kvtsim
