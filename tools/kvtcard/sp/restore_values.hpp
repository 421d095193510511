// The settings a restore would make from a card: every object path with the
// value text the daemon's restore sets, in the restore's order.
#pragma once

#include <string>
#include <vector>

#include "card/image.hpp"

namespace kvtcard {

struct CardSetting {
    std::string object;
    std::string value;
    std::string note; // why the restore would stop here, or empty
};

// Sections 4 to 7 and the keyswitch (object "keyswitch", set through the
// platform-control library). POST level and verbosity names come from the
// platform-control library, so this runs against the simulated SP only.
std::vector<CardSetting> misc_settings_from_card(const kvt::Image &image);

// The network objects the restore compares or sets, with the card's values
// ("/X/network/ipdiscovery" first).
std::vector<CardSetting> network_settings_from_card(const kvt::Image &image);

// The CLI-mode file lines the restore would write.
std::vector<std::string> cli_mode_lines_from_card(const kvt::Image &image);

} // namespace kvtcard
