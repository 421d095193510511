// One line of the CLI-mode file, "name:mode", as the SP's readers split it:
// the name is everything before the first colon (blanks kept), the mode the
// first word after it, blanks before that word skipped and anything after
// it ignored.
#pragma once

#include <cstddef>
#include <string_view>

namespace kvt {

struct CliModeLine {
    // 0: no name, 1: a name but no mode, 2: both; what "%[^:]:%s" counts.
    int fields = 0;
    std::string_view name;
    std::string_view mode;
};

constexpr bool is_cli_mode_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Views into `line`. Header-only: the simulated SP's services read the
// same file.
constexpr CliModeLine split_cli_mode_line(std::string_view line)
{
    CliModeLine split;
    const std::size_t colon = line.find(':');
    split.name = line.substr(0, colon);
    if (split.name.empty())
        return split;
    split.fields = 1;
    if (colon == std::string_view::npos)
        return split;
    std::size_t first = colon + 1;
    while (first < line.size() && is_cli_mode_blank(line[first]))
        ++first;
    std::size_t last = first;
    while (last < line.size() && !is_cli_mode_blank(line[last]))
        ++last;
    if (last == first)
        return split;
    split.mode = line.substr(first, last - first);
    split.fields = 2;
    return split;
}

} // namespace kvt
