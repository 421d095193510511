// Before a capture overwrites a card that held something, start-up keeps
// what it read of it, so that nothing a card carried is lost without a
// trace. The newest is "/var/lib/kvtd/overwritten-card.1.bin", the two
// before it .2 and .3; each is a dump of the whole part as the card
// library read it (card_as_read_KVT): the image and the library's records,
// everything that made the verdict, so that kvtcard verify on it gives
// kvtd's verdict and reason.
#pragma once

#include <span>
#include <string>

namespace kvt {

inline constexpr const char *kKeptCardDirectory = "/var/lib/kvtd";
inline constexpr const char *kKeptCardName = "overwritten-card";
inline constexpr int kKeptCards = 3;

struct KeptCard {
    bool kept = false;
    std::string path;  // where it went, or where it should have gone
    std::string error; // why it was not kept
};

// Writes `part` as the newest kept card (a temporary file synced and
// renamed in place, mode 0600: the image holds passwords) and shifts the
// older ones down, dropping the oldest.
KeptCard keep_overwritten_card(std::span<const unsigned char> part);

} // namespace kvt
