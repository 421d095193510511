// kvtcard: shows, checks, compares, saves and writes KVT cards, as files or
// in a slot, and previews what kvtd would do with a card on the simulated
// SP. A command is one row of kCommands: its name, synopsis, help, the
// options it takes and the function that runs it (tools/kvtcard/*.cpp).
#include <getopt.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cardlib/checksum.hpp"
#include "tools/kvtcard/commands.hpp"
#include "tools/kvtcard/invocation.hpp"

namespace {

using kvtcard::CardSource;
using kvtcard::Invocation;

enum Option : unsigned {
    kJson = 1U << 0,
    kShowPasswords = 1U << 1,
    kAll = 1U << 2,
    kForce = 1U << 3,
    kGeometry = 1U << 4, // --part, --offset
    kSlots = 1U << 5,    // --device, --sim
    kWhole = 1U << 6,
    kLive = 1U << 7,
    kChecksum = 1U << 8, // --checksum-start
};

struct Command {
    const char *name;
    const char *synopsis;
    const char *help;
    unsigned options;
    int (*run)(const Invocation &);
};

constexpr unsigned kCards = kJson | kGeometry | kSlots | kChecksum;

// status (tools/kvtcard/status.cpp) takes its file, or --sim, as a word.
int run_status(const Invocation &run)
{
    std::vector<std::string> words;
    for (const CardSource &source : run.sources) {
        if (source.kind == CardSource::Kind::device)
            return kvtcard::fail("status reads a status file or --sim, not a card");
        words.push_back(source.where);
    }
    return kvtcard::status_command(run.json, words);
}

constexpr Command kCommands[] = {
    {"show", "[--all] [--show-passwords] CARD",
     "Decode every section with the value texts kvtd uses, each with its checksum status.\n"
     "Empty user and CLI-mode slots and unused alert rules are folded; --all shows them.\n",
     kCards | kShowPasswords | kAll, kvtcard::run_show},
    {"verify", "CARD",
     "The card library's verdict, the one kvtd takes at start-up: exit 0 when kvtd would\n"
     "accept the card, 1 when not, with every reason.\n",
     kCards, kvtcard::run_verify},
    {"diff", "[--show-passwords] CARD_A CARD_B",
     "The fields in which two cards differ; exit 0 when they are the same, 1 when not.\n",
     kCards | kShowPasswords, kvtcard::run_diff},
    {"preview", "[CARD]",
     "What kvtd would do with the card on this SP (KVT_SP_ROOT on the simulated SP),\n"
     "made by kvtd-preview with kvtd's own code: the start-up decision and the plan of\n"
     "each section's restore, beside what the SP holds now.\n"
     "CARD defaults to --sim.\n",
     kCards & ~kChecksum, kvtcard::run_preview},
    {"hexdump", "CARD",
     "The image in hex and ASCII by card address, section by section with each\n"
     "section's name and span; a wrong checksum byte is marked with '!'.\n",
     kCards, kvtcard::run_hexdump},
    {"detect", "--device PATH | --sim",
     "Whether a card answers in the slot: exit 0 when one does, 1 when not.\n", kCards,
     kvtcard::run_detect},
    {"save", "(--device PATH | --sim) FILE",
     "Read the whole part in the slot into FILE (an EEPROM dump).\n", kCards, kvtcard::run_save},
    {"write", "[--force [--live]] [--whole] (--device PATH | --sim) FILE",
     "Write the card image of FILE (an image or an EEPROM dump) onto the card in the slot\n"
     "through the card library: its record first, then only the pages that differ; then\n"
     "read the card back and compare. Without --force, only tell which pages would change.\n"
     "--whole: FILE is a dump of the whole part (as save made it), put back as it is,\n"
     "every page that differs; its size must be the part's.\n"
     "While kvtd runs on the slot's SP the write is refused: stop kvtd first, or give\n"
     "--live to write all the same (kvtd reads the card again before its next write, but\n"
     "does not restore what was written to the SP).\n",
     kCards | kForce | kWhole | kLive, kvtcard::run_write},
    {"status", "[FILE | --sim]",
     "What the running kvtd last found, from the status file it keeps (/run/kvtd/status,\n"
     "under KVT_SP_ROOT on the simulated SP): exit 0 while that kvtd runs, 1 once it has\n"
     "ended, 2 without a status file.\n",
     kJson | kSlots, run_status},
};

constexpr const char *kCardHelp =
    "CARD is a card image file (1832 bytes), an EEPROM dump (the whole part, image at\n"
    "0x1800), --sim (the simulated SP's card; root from KVT_SP_ROOT) or --device PATH:\n"
    "the card in a slot, PATH the at24 driver's file\n"
    "(/sys/bus/i2c/devices/1-0053/eeprom) or an I2C bus with an optional address\n"
    "(/dev/i2c-1, /dev/i2c-1@0x53).\n"
    "Options: --json  --part 24c64|24c128|24c256|24c512  --offset ADDR (image address,\n"
    "default 0x1800)  --checksum-start VALUE (the value the section checksums start\n"
    "from on the card's fleet, default that of this build)  --help\n";

const Command *command_named(std::string_view name)
{
    for (const Command &command : kCommands)
        if (name == command.name)
            return &command;
    return nullptr;
}

void usage(std::FILE *out)
{
    std::fputs("usage:", out);
    for (const Command &command : kCommands)
        std::fprintf(out, "%s kvtcard [--json] %s %s\n", &command == kCommands ? "" : "      ",
                     command.name, command.synopsis);
    std::fputs(kCardHelp, out);
}

void command_help(const Command &command)
{
    std::printf("usage: kvtcard [--json] %s %s\n%s%s", command.name, command.synopsis, command.help,
                command.options & kGeometry ? kCardHelp : "");
}

int usage_error(const std::string &message)
{
    std::fprintf(stderr, "kvtcard: %s\n", message.c_str());
    usage(stderr);
    return kvtcard::kExitError;
}

struct Parsed {
    Invocation run;
    std::string command_word;
    unsigned given = 0;
    bool help = false;
};

bool parse_offset(const char *text, std::size_t &offset)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value > 0xFFFF)
        return false;
    offset = value;
    return true;
}

// A flag option: the member it sets and the option bit it counts as.
bool take_flag(int code, Parsed &parsed)
{
    Invocation &run = parsed.run;
    const std::array<std::pair<bool *, unsigned>, 7> flags{{
        {&run.json, kJson},
        {&run.show_passwords, kShowPasswords},
        {&run.all, kAll},
        {&run.force, kForce},
        {&run.whole, kWhole},
        {&run.live, kLive},
        {&parsed.help, 0},
    }};
    constexpr const char *kCodes = "jpafwlh";
    const char *at = std::strchr(kCodes, code);
    if (!at || code == 0)
        return false;
    const auto &[member, bit] = flags.at(static_cast<std::size_t>(at - kCodes));
    *member = true;
    parsed.given |= bit;
    return true;
}

// One option with a value, or --sim; false with a reason in `error`.
bool take_option(int code, const char *arg, Parsed &parsed, std::string &error)
{
    Invocation &run = parsed.run;
    if (code == 's' || code == 'd') {
        const bool sim = code == 's';
        run.sources.push_back({sim ? CardSource::Kind::sim : CardSource::Kind::device,
                               sim ? std::string(kvtcard::kSimCard) : std::string(arg)});
        parsed.given |= kSlots;
        return true;
    }
    if (code == 'c') {
        parsed.given |= kChecksum;
        std::size_t start = 0;
        if (!parse_offset(arg, start) || start > 0xFF)
            error = std::string("--checksum-start ") + arg + ": not a byte value (0 to 0xFF)";
        cardlib::use_checksum_start(static_cast<std::uint8_t>(start));
        return error.empty();
    }
    parsed.given |= kGeometry;
    if (code == 'P') {
        run.geometry.part = cardlib::part_named(arg);
        if (!run.geometry.part)
            error = std::string("--part ") + arg + ": not one of 24c64, 24c128, 24c256, 24c512";
    } else if (!parse_offset(arg, run.geometry.image_address)) {
        error = std::string("--offset ") + arg + ": not a card address";
    }
    return error.empty();
}

// getopt_long in "return in order" mode: options anywhere on the line, and
// --sim and --device keep their place among the cards.
bool parse(int argc, char **argv, Parsed &parsed, std::string &error)
{
    static const option kLong[] = {
        {"json", no_argument, nullptr, 'j'},
        {"show-passwords", no_argument, nullptr, 'p'},
        {"whole", no_argument, nullptr, 'w'},
        {"all", no_argument, nullptr, 'a'},
        {"force", no_argument, nullptr, 'f'},
        {"help", no_argument, nullptr, 'h'},
        {"sim", no_argument, nullptr, 's'},
        {"device", required_argument, nullptr, 'd'},
        {"part", required_argument, nullptr, 'P'},
        {"offset", required_argument, nullptr, 'o'},
        {"live", no_argument, nullptr, 'l'},
        {"checksum-start", required_argument, nullptr, 'c'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int code = 0;
    while ((code = getopt_long(argc, argv, "-h", kLong, nullptr)) != -1) {
        if (code == '?') {
            error = std::string("unknown option or missing value: ") + argv[optind - 1];
            return false;
        }
        if (code != 1) {
            if (!take_flag(code, parsed) && !take_option(code, optarg, parsed, error))
                return false;
        } else if (parsed.command_word.empty()) {
            parsed.command_word = optarg;
        } else {
            parsed.run.sources.push_back({CardSource::Kind::file, optarg});
        }
    }
    return true;
}

std::string first_option_in(unsigned options)
{
    constexpr std::pair<unsigned, const char *> kNames[] = {
        {kJson, "--json"},
        {kShowPasswords, "--show-passwords"},
        {kAll, "--all"},
        {kForce, "--force"},
        {kGeometry, "--part or --offset"},
        {kSlots, "--device or --sim"},
        {kWhole, "--whole"},
        {kLive, "--live"},
        {kChecksum, "--checksum-start"},
    };
    for (const auto &[bit, name] : kNames)
        if (options & bit)
            return name;
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    Parsed parsed;
    std::string error;
    if (!parse(argc, argv, parsed, error))
        return usage_error(error);
    if (parsed.command_word.empty()) {
        if (!parsed.help)
            return usage_error("no command");
        usage(stdout);
        return kvtcard::kExitOk;
    }
    const Command *command = command_named(parsed.command_word);
    if (!command)
        return usage_error("unknown command " + parsed.command_word);
    if (parsed.help) {
        command_help(*command);
        return kvtcard::kExitOk;
    }
    if (const unsigned stray = parsed.given & ~command->options; stray != 0)
        return usage_error(std::string(command->name) + " takes no " + first_option_in(stray));
    return command->run(parsed.run);
}
