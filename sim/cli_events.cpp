#include "sim/cli.hpp"

namespace kvtsim::cli {

std::span<const Command> event_commands()
{
    return {};
}

} // namespace kvtsim::cli
