// kvtsim: drives the simulated SP of the root named by KVT_SP_ROOT.
//   kvtsim <command> [args]      kvtsim help lists the commands.
#include <array>
#include <filesystem>
#include <iostream>

#include "sim/control.hpp"
#include "sim/kvtsim/args.hpp"
#include "sim/kvtsim/commands.hpp"

namespace {

using kvtsim::cli::Command;
using kvtsim::cli::kUsage;

std::array<std::span<const Command>, 3> tables()
{
    return {kvtsim::cli::platform_commands(), kvtsim::cli::config_commands(),
            kvtsim::cli::event_commands()};
}

const Command *find(const std::string &name)
{
    for (const auto &table : tables())
        for (const Command &command : table)
            if (name == command.name)
                return &command;
    return nullptr;
}

void print_usage(std::ostream &out, const Command &command)
{
    out << "kvtsim " << command.name << ' ' << command.usage << '\n';
}

void help(std::ostream &out)
{
    out << "usage: kvtsim <command> [args]   (on the SP root named by KVT_SP_ROOT, default "
        << kvtsim::default_root() << ")\n";
    out << "kvtsim help  list the commands\n";
    for (const auto &table : tables())
        for (const Command &command : table)
            print_usage(out, command);
    out << "fault names (those ending in ':' take what they apply to, e.g. "
           "luapi.get:/X/network/state):\n";
    for (const std::string &name : kvtsim::fault_names())
        out << "  " << name << '\n';
}

// "init DIR" may create its directory; every other command works on an
// existing root that this user owns and nobody else can write.
bool root_refused(const std::string &command)
{
    if (command == "init")
        return false;
    const std::string dir = kvtsim::configured_root();
    const auto refusal = kvtsim::root_refusal(dir);
    if (!refusal)
        return false;
    std::cerr << "kvtsim: SP root " << dir << " refused: " << *refusal << '\n';
    if (!std::filesystem::exists(dir))
        std::cerr << "kvtsim: kvtsim init creates it\n";
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        help(std::cerr);
        return kUsage;
    }
    const std::string name = argv[1];
    if (name == "help" || name == "--help" || name == "-h") {
        help(std::cout);
        return 0;
    }
    const Command *command = find(name);
    if (!command) {
        std::cerr << "kvtsim: unknown command " << name << '\n';
        help(std::cerr);
        return kUsage;
    }
    if (root_refused(name))
        return kUsage;
    const kvtsim::cli::Args args(argv + 2, argv + argc);
    const int rc = command->run(args);
    if (rc == kvtsim::cli::kRefused)
        return kUsage;
    if (rc == kUsage) {
        std::cerr << "usage: ";
        print_usage(std::cerr, *command);
    }
    return rc;
}
