// Before a capture overwrites a card that held something, start-up keeps
// the image it read, so that nothing a card carried is lost without a
// trace. The newest is "/var/lib/kvtd/overwritten-card.1.bin", the two
// before it .2 and .3; each is an 1832-byte image that kvtcard reads.
#pragma once

#include <string>

#include "card/image.hpp"

namespace kvt {

inline constexpr const char *kKeptCardDirectory = "/var/lib/kvtd";
inline constexpr const char *kKeptCardName = "overwritten-card";
inline constexpr int kKeptCards = 3;

struct KeptCard {
    bool kept = false;
    std::string path;  // where it went, or where it should have gone
    std::string error; // why it was not kept
};

// Writes `image` as the newest kept card (a temporary file synced and
// renamed in place, mode 0600: the image holds passwords) and shifts the
// older ones down, dropping the oldest.
KeptCard keep_overwritten_card(const Image &image);

} // namespace kvt
