// kvtcard: shows, checks and compares KVT cards, and previews what kvtd
// would do with a card on the simulated SP.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "tools/kvtcard/commands.hpp"
#include "tools/kvtcard/simulator.hpp"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNo = 1; // verify: refused; diff: the cards differ
constexpr int kExitError = 2;

constexpr const char *kUsage =
    "usage: kvtcard [--json] [--show-passwords] show CARD\n"
    "       kvtcard [--json] verify CARD\n"
    "       kvtcard [--json] [--show-passwords] diff CARD_A CARD_B\n"
    "       kvtcard [--json] preview [CARD]\n"
    "       kvtcard [--json] status [FILE | --sim]\n"
    "CARD is a card image file (1832 bytes), an EEPROM dump (8192 bytes, image at\n"
    "0x1800) or --sim, the card of the simulated SP (root from KVT_SP_ROOT).\n"
    "preview runs the simulated SP's tool kvtsim; its CARD defaults to --sim.\n";

struct Args {
    bool json = false;
    bool show_passwords = false;
    std::string command;
    std::vector<std::string> cards;
};

int usage_error(const std::string &message)
{
    std::fprintf(stderr, "kvtcard: %s\n%s", message.c_str(), kUsage);
    return kExitError;
}

// --sim counts as a card, wherever it stands.
bool parse(int argc, char **argv, Args &args, std::string &error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--json")
            args.json = true;
        else if (arg == "--show-passwords")
            args.show_passwords = true;
        else if (arg != kvtcard::kSimCard && arg.size() > 1 && arg.front() == '-') {
            error = "unknown option " + std::string(arg);
            return false;
        } else if (args.command.empty())
            args.command = arg;
        else
            args.cards.emplace_back(arg);
    }
    return true;
}

std::size_t cards_needed(const std::string &command)
{
    if (command == "show" || command == "verify" || command == "preview")
        return 1;
    if (command == "diff")
        return 2;
    return 0;
}

void print(const kvtcard::Node &document, bool json)
{
    const std::string out = json ? kvtcard::to_json(document) : kvtcard::to_text(document);
    std::fputs(out.c_str(), stdout);
}

int run(const Args &args, const std::vector<kvtcard::Card> &cards)
{
    kvtcard::DecodeOptions options;
    options.show_passwords = args.show_passwords;
    if (args.command == "show") {
        print(kvtcard::decode_card(cards.front(), options), args.json);
        return kExitOk;
    }
    if (args.command == "verify") {
        const kvtcard::Node result = kvtcard::verify_card(cards.front());
        print(result, args.json);
        return result.find("valid")->raw_number() != 0 ? kExitOk : kExitNo;
    }
    if (args.command == "diff") {
        const kvtcard::Node result = kvtcard::diff_cards(cards[0], cards[1], options);
        print(result, args.json);
        return result.find("same")->raw_number() != 0 ? kExitOk : kExitNo;
    }
    return kExitError;
}

// The preview reads the simulated SP's state: kvtsim makes it.
int preview(const Args &args)
{
    std::vector<std::string> words{"preview"};
    if (args.json)
        words.emplace_back("--json");
    words.push_back(args.cards.front());
    std::string error;
    kvtcard::exec_kvtsim(words, error);
    std::fprintf(stderr, "kvtcard: %s\n", error.c_str());
    return kExitError;
}

bool load(const std::string &where, kvtcard::Card &card, std::string &error)
{
    if (where != kvtcard::kSimCard)
        return kvtcard::load_card(where, card, error);
    std::string path;
    if (!kvtcard::simulated_card_path(path, error))
        return false;
    if (::access(path.c_str(), F_OK) != 0) {
        error = "sim:" + path + ": no card in the slot";
        return false;
    }
    if (!kvtcard::load_card(path, card, error))
        return false;
    card.source = "sim:" + path;
    card.format = "sim";
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Args args;
    std::string error;
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (!parse(argc, argv, args, error))
        return usage_error(error);
    if (args.command == "status")
        return kvtcard::status_command(args.json, args.cards);
    const std::size_t needed = cards_needed(args.command);
    if (needed == 0)
        return usage_error(args.command.empty() ? "no command" : "unknown command " + args.command);
    if (args.command == "preview" && args.cards.empty())
        args.cards.emplace_back(kvtcard::kSimCard);
    if (args.cards.size() != needed)
        return usage_error(args.command + " takes " + std::to_string(needed) + " card(s)");

    if (args.command == "preview")
        return preview(args);
    std::vector<kvtcard::Card> cards(needed);
    for (std::size_t i = 0; i < needed; ++i) {
        if (!load(args.cards[i], cards[i], error)) {
            std::fprintf(stderr, "kvtcard: %s\n", error.c_str());
            return kExitError;
        }
    }
    return run(args, cards);
}
