// The start-up decision, apart from the steps that carry it out, so that
// kvtcard's preview takes the very rule kvtd runs.
#pragma once

#include <string>

#include "platform/card_lib.h"

namespace kvt {

enum class StartupAction { capture, restore, nothing };

struct StartupFacts {
    bool card_valid = false;
    std::string card_reason; // the card library's reason: "card valid", "card blank (erased)", ...
    bool shutdown = false;   // the previous run ended in the fatal stop
    bool moved = false;
    bool same_mac = false; // the card's header MAC is the SP's; asked only of a valid card
};

// Judges a copy of the card's image as start-up does: by the acceptance
// rule, and by the card library's verdict, which can also refuse a card
// that a write of its own, cut off, left half done. Fills card_valid and
// card_reason, and `verdict` for its warning.
void judge_card(const kvt_image_t &image, StartupFacts &facts, kvt_card_verdict &verdict);

// Capture when the card is refused or a shutdown is recorded; otherwise
// restore when the MAC differs or the card was moved; otherwise nothing.
StartupAction startup_action(const StartupFacts &facts);

// "capture", "restore", "nothing to do"
const char *action_name(StartupAction action);

// The reasons in one line: "card blank (erased), shutdown recorded",
// "card valid, card MAC differs from SP MAC", ...
std::string startup_reason(const StartupFacts &facts);

} // namespace kvt
