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

[[noreturn]] void give_up(std::FILE *file, const char *line)
{
    log_error_line(line);
    std::fclose(file);
    kvtd_fatal_stop();
}

} // namespace

void read_sp_mac(unsigned char *mac)
{
    std::FILE *file = kvt::open_for_reading(kKvtDataPath);
    if (!file) {
        log_error("config variable database open failed!\n");
        kvtd_fatal_stop();
    }

    // The base MAC is checked, so a damaged file is caught, but not used.
    unsigned base[kvt::kMacLength];
    switch (read_mac(file, base)) {
    case MacRead::short_read:
        give_up(file, "error reading base MAC address\n");
    case MacRead::bogus:
        give_up(file, "base MAC address has bogus value\n");
    case MacRead::ok:
        break;
    }

    unsigned sp[kvt::kMacLength];
    switch (read_mac(file, sp)) {
    case MacRead::short_read:
        give_up(file, "error reading sp MAC address\n");
    case MacRead::bogus:
        give_up(file, "sp MAC address has bogus value\n");
    case MacRead::ok:
        break;
    }

    // Only the low byte of each value is kept; all are at most 0xFF here.
    std::transform(std::begin(sp), std::end(sp), mac,
                   [](unsigned octet) { return static_cast<unsigned char>(octet); });
    std::fclose(file);
}
