// One run of kvtcard as main.cpp parsed it: the options given and the cards
// named, in command-line order. Each command takes it whole and checks the
// cards it needs itself.
#pragma once

#include <string>
#include <vector>

#include "tools/kvtcard/card_file.hpp"
#include "tools/kvtcard/node.hpp"

namespace kvtcard {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNo = 1; // verify: refused; diff: the cards differ; ...
inline constexpr int kExitError = 2;

// A card on the command line: a file, the simulated SP's card (--sim) or
// the card in a slot (--device PATH).
struct CardSource {
    enum class Kind { file, sim, device };
    Kind kind = Kind::file;
    std::string where; // the file, or the device as --device named it

    bool in_slot() const { return kind != Kind::file; }
};

struct Invocation {
    bool json = false;
    bool show_passwords = false;
    bool all = false;
    bool force = false;
    bool whole = false; // write: the file is a dump of the whole part
    bool live = false;  // write: even while kvtd runs on the slot's SP
    Geometry geometry;
    std::vector<CardSource> sources;
};

// The document as text or JSON on standard output.
void print(const Node &document, bool json);
// "kvtcard: <message>" on standard error; kExitError.
int fail(const std::string &message);

// Loads each source as a card. False after reporting the first failure.
bool load_cards(const Invocation &run, std::vector<Card> &cards);

int run_show(const Invocation &run);
int run_verify(const Invocation &run);
int run_diff(const Invocation &run);
int run_preview(const Invocation &run);
int run_hexdump(const Invocation &run);
int run_detect(const Invocation &run);
int run_save(const Invocation &run);
int run_write(const Invocation &run);

} // namespace kvtcard
