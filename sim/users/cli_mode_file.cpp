#include "sim/users/cli_mode_file.hpp"

#include <vector>

#include "sim/control.hpp"
#include "sim/root/locked_text.hpp"

namespace kvtsim {

namespace {

std::string file_path()
{
    return path_in_root(kCliModeFile);
}

// The mode word of a "name:mode" line: blanks after the colon skipped,
// anything after the word ignored.
std::string mode_word(std::string_view rest)
{
    const auto start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return {};
    rest.remove_prefix(start);
    return std::string(rest.substr(0, rest.find_first_of(" \t")));
}

// The lines of `text`, without their newlines.
std::vector<std::string_view> lines_of(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return lines;
}

// What follows the colon of a "name:mode" line for `name`; nullopt for a
// line of another user or without a colon.
std::optional<std::string_view> mode_part(std::string_view line, std::string_view name)
{
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || line.substr(0, colon) != name)
        return std::nullopt;
    return line.substr(colon + 1);
}

} // namespace

std::string cli_mode_file()
{
    return read_locked(file_path());
}

int write_cli_mode_file(std::string_view text)
{
    return write_locked(file_path(), text) ? 0 : -1;
}

std::optional<std::string> cli_mode_of(std::string_view name)
{
    const std::string text = cli_mode_file();
    for (const std::string_view line : lines_of(text))
        if (const auto mode = mode_part(line, name))
            return mode_word(*mode);
    return std::nullopt;
}

int set_cli_mode(std::string_view name, std::string_view mode)
{
    const std::string wanted = std::string(name) + ':' + std::string(mode);
    const bool written = edit_locked(file_path(), [&](std::string &text) {
        std::string result;
        bool replaced = false;
        for (const std::string_view line : lines_of(text)) {
            const bool ours = mode_part(line, name).has_value();
            result.append(ours && !replaced ? std::string_view(wanted) : line).append(1, '\n');
            replaced = replaced || ours;
        }
        if (!replaced)
            result.append(wanted).append(1, '\n');
        text = std::move(result);
        return true;
    });
    return written ? 0 : -1;
}

} // namespace kvtsim
