#include "sim/users/cli_mode_file.hpp"

#include <vector>

#include "card/cli_mode_line.hpp"
#include "sim/control.hpp"
#include "sim/root/locked_text.hpp"

namespace kvtsim {

namespace {

std::string file_path()
{
    return path_in_root(kCliModeFile);
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

// Whether the line is `name`'s.
bool is_line_of(std::string_view line, std::string_view name)
{
    return line.find(':') != std::string_view::npos && kvt::split_cli_mode_line(line).name == name;
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
        if (is_line_of(line, name))
            return std::string(kvt::split_cli_mode_line(line).mode);
    return std::nullopt;
}

int set_cli_mode(std::string_view name, std::string_view mode)
{
    const std::string wanted = std::string(name) + ':' + std::string(mode);
    const bool written = edit_locked(file_path(), [&](std::string &text) {
        std::string result;
        bool replaced = false;
        for (const std::string_view line : lines_of(text)) {
            const bool ours = is_line_of(line, name);
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
