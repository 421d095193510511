// kvtsim preview: the card inspector's preview, run by the simulator's tool
// because it reads the simulated SP's state.
#include <cstdio>
#include <string>

#include "sim/cli.hpp"
#include "sim/control.hpp"
#include "tools/kvtcard/sp/preview.hpp"

namespace kvtsim::cli {

namespace {

constexpr int kUsageError = 2;

// The card in the slot, with the library's records beside the image.
bool load_slot_card(kvtcard::Card &card, std::string &error)
{
    const std::vector<unsigned char> part = card_eeprom();
    if (part.empty()) {
        error = "sim:" + root() + ": no card in the slot";
        return false;
    }
    card.source = "sim:" + root();
    if (!kvtcard::card_from_bytes(part, card, error))
        return false;
    card.format = "sim";
    return true;
}

int run_preview(const Args &args)
{
    bool json = false;
    std::string where(kvtcard::kSimCard);
    for (const std::string &arg : args) {
        if (arg == "--json")
            json = true;
        else
            where = arg;
    }
    kvtcard::Card card;
    std::string error;
    const bool loaded = where == kvtcard::kSimCard ? load_slot_card(card, error)
                                                   : kvtcard::load_card(where, card, error);
    if (!loaded) {
        std::fprintf(stderr, "kvtsim: %s\n", error.c_str());
        return kUsageError;
    }
    const kvtcard::Node document = kvtcard::preview_card(card);
    std::fputs((json ? kvtcard::to_json(document) : kvtcard::to_text(document)).c_str(), stdout);
    return 0;
}

constexpr Command kCommands[] = {
    {"preview",
     "[--json] [CARD]  what start-up and a restore of CARD (a file, or --sim, the "
     "card in the slot) would do on this SP",
     run_preview},
};

} // namespace

std::span<const Command> preview_commands()
{
    return kCommands;
}

} // namespace kvtsim::cli
