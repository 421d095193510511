// The KVT-data file: the platform's record of the base and SP MAC
// addresses. The card header must carry the SP MAC.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "base/fatal_stop.hpp"
#include "base/files.hpp"
#include "base/log.hpp"
#include "platform/util.h"
#include "service/kvtd.hpp"

namespace {

constexpr const char *kKvtDataPath = "/var/tmp/KVT-data";
constexpr const char *kMacFormat = "%02x:%02x:%02x:%02x:%02x:%02x";

enum class MacRead { ok, short_read, bogus };

MacRead read_mac(std::FILE *file, unsigned (&octets)[kvt::kMacLength])
{
    if (std::fscanf(file, kMacFormat, &octets[0], &octets[1], &octets[2], &octets[3], &octets[4],
                    &octets[5]) != 6)
        return MacRead::short_read;
    for (unsigned octet : octets)
        if (octet > 0xFF)
            return MacRead::bogus;
    return MacRead::ok;
}

// The line a MAC that did not read stops the daemon with, or nullptr.
const char *mac_problem(MacRead read, const char *short_read, const char *bogus)
{
    switch (read) {
    case MacRead::short_read:
        return short_read;
    case MacRead::bogus:
        return bogus;
    case MacRead::ok:
        break;
    }
    return nullptr;
}

} // namespace

const char *kvt::load_sp_mac(unsigned char *mac)
{
    std::FILE *file = kvt::open_for_reading(kKvtDataPath);
    if (!file)
        return "config variable database open failed!\n";
    // The base MAC is checked, so a damaged file is caught, but not used.
    unsigned base[kvt::kMacLength];
    unsigned sp[kvt::kMacLength];
    const char *problem = mac_problem(read_mac(file, base), "error reading base MAC address\n",
                                      "base MAC address has bogus value\n");
    if (problem == nullptr)
        problem = mac_problem(read_mac(file, sp), "error reading sp MAC address\n",
                              "sp MAC address has bogus value\n");
    std::fclose(file);
    if (problem != nullptr)
        return problem;
    // Only the low byte of each value is kept; all are at most 0xFF here.
    std::transform(std::begin(sp), std::end(sp), mac,
                   [](unsigned octet) { return static_cast<unsigned char>(octet); });
    return nullptr;
}

void read_sp_mac(unsigned char *mac)
{
    if (const char *line = kvt::load_sp_mac(mac)) {
        log_error_line(line);
        kvtd_fatal_stop();
    }
}
