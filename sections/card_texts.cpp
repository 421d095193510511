#include "sections/card_texts.hpp"

#include <algorithm>

namespace kvt {

namespace {

bool is_control(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// A field whose last byte is not NUL holds a text one character longer
// than the field may carry.
template <std::size_t N> bool over_long(const TextField<N> &field)
{
    return field.view().size() > N - 1;
}

} // namespace

bool has_control_char(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), is_control);
}

TextProblem climode_entry_problem(const CliModeEntry &entry)
{
    const std::string_view name = entry.name.view();
    const std::string_view mode = entry.mode.view();
    if (over_long(entry.name))
        return "name over 16 characters";
    if (name.find(':') != std::string_view::npos)
        return "colon in name";
    if (has_control_char(name))
        return "control character in name";
    if (mode.empty())
        return "empty mode";
    if (over_long(entry.mode))
        return "mode over 16 characters";
    if (mode.find(' ') != std::string_view::npos)
        return "blank in mode";
    if (has_control_char(mode))
        return "control character in mode";
    return nullptr;
}

TextProblem user_name_problem(const TextField<17> &name)
{
    if (over_long(name))
        return "name over 16 characters";
    if (name.view().find(':') != std::string_view::npos)
        return "colon in name";
    if (has_control_char(name.view()))
        return "control character in name";
    return nullptr;
}

TextProblem password_problem(const TextField<17> &password)
{
    if (over_long(password))
        return "password over 16 characters";
    if (has_control_char(password.view()))
        return "control character in password";
    return nullptr;
}

TextProblem object_text_problem(std::string_view text)
{
    return has_control_char(text) ? "control character in value" : nullptr;
}

} // namespace kvt
