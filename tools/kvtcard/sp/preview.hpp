// The preview of a card on the simulated SP: what start-up and a restore
// of the card would do there. It reads the SP's state, so it is built into
// the simulator's own tool (kvtsim preview), which kvtcard preview runs.
#pragma once

#include "card/image.hpp"
#include "tools/kvtcard/card_file.hpp"
#include "tools/kvtcard/node.hpp"

namespace kvtcard {

// { source, root, startup{...}, users{}, cli_mode_file{}, network[], objects[] }
Node preview_card(const Card &card);

// { action, reason, card_verdict, card_valid, card_mac, sp_mac, daemon_state, moved }:
// the daemon's own start-up rule, on the SP's recorded state.
Node startup_decision(const Card &card);

// { restored, root, added[], deleted[], changed[], unchanged[], add_fails[] }
// or { restored: false, reason } while the card turns user data off.
Node preview_users(const kvt::Image &image);

} // namespace kvtcard
