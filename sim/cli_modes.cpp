#include "sim/cli_modes.hpp"

#include "sim/control.hpp"
#include "sim/locked_text.hpp"

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
    std::string_view rest = text;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos && line.substr(0, colon) == name)
            return mode_word(line.substr(colon + 1));
    }
    return std::nullopt;
}

int set_cli_mode(std::string_view name, std::string_view mode)
{
    const std::string wanted = std::string(name) + ':' + std::string(mode);
    const bool written = edit_locked(file_path(), [&](std::string &text) {
        std::string result;
        bool replaced = false;
        std::string_view rest = text;
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
            const auto colon = line.find(':');
            const bool ours = colon != std::string_view::npos && line.substr(0, colon) == name;
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
