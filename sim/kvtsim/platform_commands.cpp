// kvtsim commands for the platform: the root, the card, the card library's
// states, the KVT-data file, IPMI, faults and what the SP recorded.
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "sim/card/eeprom.hpp"
#include "sim/control.hpp"
#include "sim/kvtsim/args.hpp"
#include "sim/kvtsim/commands.hpp"
#include "sim/root/files.hpp"
#include "sim/system/mac_text.hpp"

namespace kvtsim::cli {

namespace {

int run_init(const Args &args)
{
    std::string dir = configured_root();
    RootOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool mac_option = args[i] == "--sp-mac" || args[i] == "--base-mac";
        if (!mac_option) {
            if (args[i].starts_with("--"))
                return kUsage;
            dir = args[i];
            continue;
        }
        const auto mac = i + 1 < args.size() ? parse_mac(args[i + 1]) : std::nullopt;
        if (!mac)
            return kUsage;
        (args[i] == "--sp-mac" ? options.sp_mac : options.base_mac) = *mac;
        ++i;
    }
    if (std::filesystem::exists(dir)) {
        if (const auto refusal = root_refusal(dir))
            return refuse("SP root " + dir + " refused: " + *refusal);
    }
    return status(create_root(dir, options), "init");
}

void print_image(const ImageBytes &image)
{
    for (std::size_t at = 0; at < image.size(); at += 16) {
        char line[80];
        int used = std::snprintf(line, sizeof line, "%04zx:", at);
        for (std::size_t i = at; i < std::min(at + 16, image.size()); ++i)
            used += std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used),
                                  " %02x", image.at(i));
        std::cout << line << '\n';
    }
}

int card_show()
{
    const auto image = card_image();
    if (!image) {
        std::cerr << "kvtsim: no card in the slot\n";
        return 1;
    }
    print_image(*image);
    return 0;
}

int card_save(const std::string &file)
{
    const auto image = card_image();
    if (!image)
        return 1;
    return files::replace(file, std::span<const unsigned char>(*image)) ? 0 : 1;
}

int card_load(const std::string &file)
{
    const auto text = files::read(file);
    if (!text || text->size() != kImageSize) {
        std::cerr << "kvtsim: " << file << " does not hold a " << kImageSize << "-byte image\n";
        return 1;
    }
    ImageBytes image{};
    std::copy(text->begin(), text->end(), image.begin());
    return status(card_insert_image(image));
}

int card_foreign(const std::string &mac_text_arg)
{
    const auto mac = parse_mac(mac_text_arg);
    if (!mac)
        return kUsage;
    return status(card_insert_image(foreign_image(*mac)));
}

int run_card(const Args &args)
{
    if (args.size() == 1 && args[0] == "pull")
        return status(card_pull());
    if (args.size() == 1 && args[0] == "insert")
        return status(card_insert());
    if (args.size() == 1 && args[0] == "blank")
        return status(card_insert_blank());
    if (args.size() == 1 && args[0] == "show")
        return card_show();
    if (args.size() == 1 && args[0] == "path") {
        std::cout << eeprom::path() << '\n';
        return 0;
    }
    if (args.size() == 2 && args[0] == "foreign")
        return card_foreign(args[1]);
    if (args.size() == 2 && args[0] == "save")
        return card_save(args[1]);
    if (args.size() == 2 && args[0] == "load")
        return card_load(args[1]);
    return kUsage;
}

int run_path(const Args &args)
{
    if (args.size() != 1 || args[0].empty() || args[0][0] != '/')
        return kUsage;
    std::cout << path_in_root(args[0]) << '\n';
    return 0;
}

int run_state(const Args &args)
{
    if (args.empty()) {
        std::cout << daemon_state() << '\n';
        return 0;
    }
    if (args.size() != 1 ||
        (args[0] != "initializing" && args[0] != "running" && args[0] != "shutdown"))
        return kUsage;
    set_daemon_state(args[0]);
    return 0;
}

int run_moved(const Args &args)
{
    if (args.empty()) {
        std::cout << (moved() ? "yes" : "no") << '\n';
        return 0;
    }
    if (args.size() != 1 || (args[0] != "yes" && args[0] != "no"))
        return kUsage;
    set_moved(args[0] == "yes");
    return 0;
}

int run_ipmi(const Args &args)
{
    if (args.size() != 1 || (args[0] != "up" && args[0] != "down"))
        return kUsage;
    set_ipmi_up(args[0] == "up");
    return 0;
}

constexpr long kMaxFaultCount = 1000000;

// A family that takes a target ("file.open:") with one this SP has not.
std::string fault_refusal(const std::string &name)
{
    for (const std::string &family : fault_names())
        if (family.ends_with(':') && name.starts_with(family))
            return "unknown fault target " + name.substr(family.size()) + " of " + family +
                   " (an object, POST name, variable, event class or daemon file of this SP)";
    return "unknown fault name " + name + " (kvtsim fault list shows every name)";
}

int fault_set_args(const Args &args)
{
    if (args.size() > 4)
        return kUsage;
    if (!fault_name_known(args[1]))
        return refuse(fault_refusal(args[1]));
    const auto value = args.size() > 2 ? parse_long(args[2]) : std::optional<long long>(0);
    if (!value || *value < INT_MIN || *value > INT_MAX)
        return refuse("fault value " + args[2] + " is not a number from " +
                      std::to_string(INT_MIN) + " to " + std::to_string(INT_MAX));
    const auto count = args.size() > 3 ? parse_long(args[3]) : std::optional<long long>(-1);
    if (!count || *count < -1 || *count > kMaxFaultCount)
        return refuse("fault count " + args[3] + " is not -1 (every call) or 0 to " +
                      std::to_string(kMaxFaultCount));
    fault_set(args[1], *value, static_cast<int>(*count));
    return 0;
}

int fault_list()
{
    std::cout << "active:\n";
    for (const ActiveFault &fault : faults_active())
        std::cout << "  " << fault.name << " value " << fault.value << " count " << fault.count
                  << '\n';
    std::cout << "names:\n";
    for (const std::string &name : fault_names())
        std::cout << "  " << name << (name.ends_with(':') ? "<what>" : "") << '\n';
    return 0;
}

int run_fault(const Args &args)
{
    if (args.size() >= 2 && args[0] == "set")
        return fault_set_args(args);
    if (args.size() == 1 && args[0] == "list")
        return fault_list();
    if (args.size() == 2 && args[0] == "clear") {
        fault_clear(args[1]);
        return 0;
    }
    if (args.size() == 1 && args[0] == "clear-all") {
        faults_clear_all();
        return 0;
    }
    return kUsage;
}

int run_faultlog(const Args &args)
{
    if (!args.empty())
        return kUsage;
    return print_lines(fault_log());
}

int run_poweron(const Args &args)
{
    if (args.size() > 1 || (args.size() == 1 && args[0] != "enable"))
        return kUsage;
    if (args.size() == 1)
        enable_powerons();
    std::printf("power-on: %s\n", powerons_disabled() ? "disabled" : "enabled");
    return 0;
}

int run_power(const Args &args)
{
    if (!args.empty())
        return kUsage;
    return print_lines(power_ops());
}

int run_kvtdata(const Args &args)
{
    if (args.size() > 1)
        return kUsage;
    if (args.size() == 1) {
        const bool ends_line = !args[0].empty() && args[0].back() == '\n';
        return status(write_kvt_data(ends_line ? args[0] : args[0] + "\n"));
    }
    const auto text = files::read(path_in_root("/var/tmp/KVT-data"));
    if (!text)
        return 1;
    std::cout << *text;
    return 0;
}

constexpr Command kPlatformCommands[] = {
    {"init", "[DIR] [--sp-mac M] [--base-mac M]  create or reset an SP root (default: this root)",
     run_init},
    {"card",
     "pull|insert|blank|foreign MAC|show|path|save FILE|load FILE  handle the card in the slot",
     run_card},
    {"path", "FIXED  where this SP keeps the daemon's fixed path FIXED (e.g. /run/kvtd/status)",
     run_path},
    {"state", "[initializing|running|shutdown]  show or set the recorded daemon state", run_state},
    {"moved", "[yes|no]  show or set the moved state", run_moved},
    {"ipmi", "up|down  make the IPMI internal session available or not", run_ipmi},
    {"fault",
     "set NAME [VALUE] [COUNT] | clear NAME | clear-all | list  inject, remove or list faults",
     run_fault},
    {"faultlog", " show the SP's fault log", run_faultlog},
    {"power", " show the power operations requested", run_power},
    {"poweron", "[enable]  show whether power-on is allowed, or allow it again", run_poweron},
    {"kvtdata", "[TEXT]  show or replace the KVT-data file", run_kvtdata},
};

} // namespace

std::span<const Command> platform_commands()
{
    return kPlatformCommands;
}

} // namespace kvtsim::cli
