#include "service/log.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/logging.h"

namespace kvt {

int debug_level = 100;

namespace {

constexpr std::string_view kCutMark = " [cut]";

void append_escaped(std::string &out, std::string_view text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
            continue;
        }
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        }
    }
}

// One conversion of the format: its flags, width, precision and length
// modifier as written, and the conversion letter.
struct Conversion {
    std::string directive = "%"; // with each '*' replaced by its number
    bool left = false;
    int width = 0;
    int precision = -1;
    std::string_view length;
    char letter = 0;
};

bool is_flag(char c)
{
    return std::strchr("-+ #0", c) != nullptr && c != '\0';
}

int read_number(const char *&p)
{
    int number = 0;
    while (*p >= '0' && *p <= '9')
        number = number * 10 + (*p++ - '0');
    return number;
}

// Reads the conversion that follows a '%' at `p`; `p` ends after it.
Conversion read_conversion(const char *&p, va_list &args)
{
    Conversion c;
    while (is_flag(*p)) {
        c.left = c.left || *p == '-';
        c.directive += *p++;
    }
    if (*p == '*') {
        ++p;
        c.width = va_arg(args, int);
        c.left = c.left || c.width < 0;
        c.directive += std::to_string(c.width);
    } else {
        const char *start = p;
        c.width = read_number(p);
        c.directive.append(start, p);
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            ++p;
            c.precision = va_arg(args, int);
        } else {
            c.precision = read_number(p);
        }
        c.directive += "." + std::to_string(c.precision < 0 ? 0 : c.precision);
    }
    const char *length = p;
    while (std::strchr("hlzjtL", *p) != nullptr && *p != '\0')
        ++p;
    c.length = std::string_view(length, static_cast<std::size_t>(p - length));
    c.directive += c.length;
    c.letter = *p;
    if (*p != '\0') {
        c.directive += *p;
        ++p;
    }
    return c;
}

template <typename Value>
void append_number(std::string &out, const std::string &directive, Value value)
{
    char text[64];
    const int n = std::snprintf(text, sizeof text, directive.c_str(), value);
    if (n < 0)
        return;
    if (static_cast<std::size_t>(n) < sizeof text) {
        out.append(text, static_cast<std::size_t>(n));
        return;
    }
    std::string wide(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(wide.data(), wide.size(), directive.c_str(), value);
    out.append(wide.data(), static_cast<std::size_t>(n));
}

// `long`, `long long`, `std::ptrdiff_t` and `std::intmax_t` are one type on
// 64-bit hosts and not on 32-bit ones, so the branches only look alike.
// NOLINTBEGIN(bugprone-branch-clone)
void append_signed(std::string &out, const Conversion &c, va_list &args)
{
    if (c.length == "l")
        append_number(out, c.directive, va_arg(args, long));
    else if (c.length == "ll")
        append_number(out, c.directive, va_arg(args, long long));
    else if (c.length == "z" || c.length == "t")
        append_number(out, c.directive, va_arg(args, std::ptrdiff_t));
    else if (c.length == "j")
        append_number(out, c.directive, va_arg(args, std::intmax_t));
    else
        append_number(out, c.directive, va_arg(args, int));
}

void append_unsigned(std::string &out, const Conversion &c, va_list &args)
{
    if (c.length == "l")
        append_number(out, c.directive, va_arg(args, unsigned long));
    else if (c.length == "ll")
        append_number(out, c.directive, va_arg(args, unsigned long long));
    else if (c.length == "z" || c.length == "t")
        append_number(out, c.directive, va_arg(args, std::size_t));
    else if (c.length == "j")
        append_number(out, c.directive, va_arg(args, std::uintmax_t));
    else
        append_number(out, c.directive, va_arg(args, unsigned));
}
// NOLINTEND(bugprone-branch-clone)

// A text argument: cut to its precision, escaped, then padded to its width.
void append_text(std::string &out, const Conversion &c, std::string_view text)
{
    if (c.precision >= 0 && text.size() > static_cast<std::size_t>(c.precision))
        text = text.substr(0, static_cast<std::size_t>(c.precision));
    std::string escaped;
    append_escaped(escaped, text);
    const std::size_t width = static_cast<std::size_t>(c.width < 0 ? -c.width : c.width);
    const std::size_t pad = escaped.size() < width ? width - escaped.size() : 0;
    if (!c.left)
        out.append(pad, ' ');
    out += escaped;
    if (c.left)
        out.append(pad, ' ');
}

void append_conversion(std::string &out, const Conversion &c, va_list &args)
{
    switch (c.letter) {
    case 's': {
        const char *text = va_arg(args, const char *);
        append_text(out, c, text ? text : "(null)");
        return;
    }
    case 'c': {
        const char one = static_cast<char>(va_arg(args, int));
        append_text(out, c, std::string_view(&one, 1));
        return;
    }
    case 'd':
    case 'i':
        append_signed(out, c, args);
        return;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
        append_unsigned(out, c, args);
        return;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        if (c.length == "L")
            append_number(out, c.directive, va_arg(args, long double));
        else
            append_number(out, c.directive, va_arg(args, double));
        return;
    case 'p':
        append_number(out, c.directive, va_arg(args, void *));
        return;
    default:
        // "%%" and anything the daemon never writes: the text as it stands.
        out += c.letter == '%' ? "%" : c.directive;
    }
}

// A message past the limit keeps its head and the format's own newline.
void cut_to_limit(std::string &message, const char *format)
{
    if (message.size() <= kMaxMessage)
        return;
    message.resize(kMaxMessage);
    message += kCutMark;
    const std::size_t len = std::strlen(format);
    if (len > 0 && format[len - 1] == '\n')
        message += '\n';
}

void write_line(const char *message)
{
    ez_log_nostamp(kServiceLogPath, "%s ", time_now());
    ez_log_nostamp(kServiceLogPath, "%s", message);
}

} // namespace

std::string format_log_message(const char *format, va_list args)
{
    std::string message;
    va_list own;
    va_copy(own, args);
    for (const char *p = format; *p != '\0';) {
        if (*p != '%') {
            message += *p++;
            continue;
        }
        ++p;
        append_conversion(message, read_conversion(p, own), own);
    }
    va_end(own);
    cut_to_limit(message, format);
    return message;
}

void log_line_above(int threshold, const char *format, ...)
{
    if (debug_level <= threshold)
        return;
    va_list args;
    va_start(args, format);
    const std::string message = format_log_message(format, args);
    va_end(args);
    write_line(message.c_str());
}

void log_fixed_line_above(int threshold, const char *line)
{
    if (debug_level <= threshold)
        return;
    write_line(line);
}

} // namespace kvt
