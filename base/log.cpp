#include "base/log.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "card/line_text.hpp"
#include "platform/logging.h"

namespace kvt {

int debug_level = 100;

namespace {

constexpr std::string_view kCutMark = " [cut]";

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

EscapedText::EscapedText(const char *text)
{
    append_escaped(text_, text ? text : "(null)");
}

void write_log_line(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = formatted(format, args);
    va_end(args);
    cut_to_limit(message, format);
    write_line(message.c_str());
}

void log_value_line_above(int threshold, ValueLine line, const char *value)
{
    if (debug_level <= threshold || line.format() == nullptr)
        return;
    std::string message = line.format();
    const std::size_t at = message.find("%s");
    if (at != std::string::npos)
        message.replace(at, 2, EscapedText(value).c_str());
    cut_to_limit(message, line.format());
    write_line(message.c_str());
}

void log_fixed_line_above(int threshold, const char *line)
{
    if (debug_level <= threshold)
        return;
    write_line(line);
}

} // namespace kvt
