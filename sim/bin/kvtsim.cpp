// kvtsim: drives the simulated SP of the root named by KVT_SP_ROOT.
//   kvtsim <command> [args]      kvtsim help lists the commands.
#include <array>
#include <iostream>

#include "sim/cli.hpp"
#include "sim/cli_args.hpp"

namespace {

using kvtsim::cli::Command;
using kvtsim::cli::kUsage;

std::array<std::span<const Command>, 4> tables()
{
    return {kvtsim::cli::platform_commands(), kvtsim::cli::config_commands(),
            kvtsim::cli::event_commands(), kvtsim::cli::preview_commands()};
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
    out << "usage: kvtsim <command> [args]   (on the SP root named by KVT_SP_ROOT)\n";
    out << "kvtsim help  list the commands\n";
    for (const auto &table : tables())
        for (const Command &command : table)
            print_usage(out, command);
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
    const kvtsim::cli::Args args(argv + 2, argv + argc);
    const int rc = command->run(args);
    if (rc == kUsage) {
        std::cerr << "usage: ";
        print_usage(std::cerr, *command);
    }
    return rc;
}
