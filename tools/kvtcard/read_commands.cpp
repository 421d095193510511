// show, verify and diff: the commands that only read cards.
#include <cstdio>

#include "tools/kvtcard/card_source.hpp"
#include "tools/kvtcard/commands.hpp"
#include "tools/kvtcard/invocation.hpp"
#include "tools/kvtcard/verify.hpp"

namespace kvtcard {

namespace {

// The cards `command` takes: exactly `count` of them.
bool cards_for(const char *command, std::size_t count, const Invocation &run,
               std::vector<Card> &cards)
{
    if (run.sources.size() != count) {
        fail(std::string(command) + " takes " + std::to_string(count) + " card(s)");
        return false;
    }
    return load_cards(run, cards);
}

} // namespace

void print(const Node &document, bool json)
{
    const std::string out = json ? to_json(document) : to_text(document);
    std::fputs(out.c_str(), stdout);
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "kvtcard: %s\n", message.c_str());
    return kExitError;
}

bool load_cards(const Invocation &run, std::vector<Card> &cards)
{
    cards.resize(run.sources.size());
    for (std::size_t i = 0; i < cards.size(); ++i) {
        std::string error;
        if (!load_source(run.sources[i], run.geometry, cards[i], error)) {
            fail(error);
            return false;
        }
    }
    return true;
}

int run_show(const Invocation &run)
{
    std::vector<Card> cards;
    if (!cards_for("show", 1, run, cards))
        return kExitError;
    DecodeOptions options;
    options.show_passwords = run.show_passwords;
    options.all = run.all;
    const Node document = decode_card(cards.front(), options);
    if (run.json)
        print(document, true);
    else
        std::fputs(to_text(document, checksum_notes(cards.front().image)).c_str(), stdout);
    return kExitOk;
}

int run_verify(const Invocation &run)
{
    std::vector<Card> cards;
    if (!cards_for("verify", 1, run, cards))
        return kExitError;
    const Node result = verify_card(cards.front());
    print(result, run.json);
    return result.find("valid")->raw_number() != 0 ? kExitOk : kExitNo;
}

int run_diff(const Invocation &run)
{
    std::vector<Card> cards;
    if (!cards_for("diff", 2, run, cards))
        return kExitError;
    DecodeOptions options;
    options.show_passwords = run.show_passwords;
    const Node result = diff_cards(cards[0], cards[1], options);
    print(result, run.json);
    return result.find("same")->raw_number() != 0 ? kExitOk : kExitNo;
}

} // namespace kvtcard
