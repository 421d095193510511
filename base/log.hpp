// The service log "/var/log/kvtd.log". Every line is two appends: the time
// text and a blank, then the message. Progress lines are written while the
// debug level is above 0, error lines while it is above 3.
//
// The message's format is the daemon's own, a literal the compiler checks
// against its arguments, and is written as it stands, its newlines
// included. Every text handed in through "%s" may come from a card, a
// record, a file or an object: its control characters are escaped before
// printf sees it ("\n" as a backslash and an n, ESC as "\x1b"), so that no
// such text can end a line early, forge the next one or reach a terminal
// raw. Texts go through "%s" only.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

namespace kvt {

inline constexpr const char *kServiceLogPath = "/var/log/kvtd.log";

// Process-wide debug level; 100, and nothing changes it.
extern int debug_level;

// A message over this many characters is cut there, keeping the format's
// newline.
inline constexpr std::size_t kMaxMessage = 16384;

// A text argument with its control characters escaped.
class EscapedText {
  public:
    explicit EscapedText(const char *text);
    const char *c_str() const { return text_.c_str(); }

  private:
    std::string text_;
};

// A line held in a table, with at most one "%s" (the value) and no other
// conversion: checked when the table is compiled. Null for a writer that
// never refuses a value.
class ValueLine {
  public:
    consteval ValueLine(const char *format) : format_(format) // NOLINT(google-explicit-constructor)
    {
        int texts = 0;
        for (const char *p = format; p != nullptr && *p != '\0'; ++p) {
            if (*p != '%')
                continue;
            if (p[1] != 's' || ++texts > 1)
                throw "a value line takes one %s and no other conversion";
            ++p;
        }
    }
    const char *format() const { return format_; }

  private:
    const char *format_;
};

namespace log_args {

inline EscapedText pass(const char *text)
{
    return EscapedText(text);
}

template <typename T>
requires(!std::is_convertible_v<T, const char *>) T pass(T value)
{
    return value;
}

inline const char *unwrap(const EscapedText &text)
{
    return text.c_str();
}

template <typename T> T unwrap(T value)
{
    return value;
}

// Never defined: only the compiler's check of a format against its
// arguments calls it.
int checked_format(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace log_args

void write_log_line(const char *format, ...) __attribute__((format(printf, 1, 2)));

template <typename... Args> void log_line_above(int threshold, const char *format, Args... args)
{
    if (debug_level <= threshold)
        return;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    write_log_line(format, log_args::unwrap(log_args::pass(args))...);
#pragma GCC diagnostic pop
}

// A line of a table: its value, escaped, in place of its "%s".
void log_value_line_above(int threshold, ValueLine line, const char *value);

// A whole line of the daemon's own, written exactly as it stands (for the
// few places that hold one of several fixed lines in a variable).
void log_fixed_line_above(int threshold, const char *line);

} // namespace kvt

// The format is checked where it is written; log_line_above only formats.
#define KVT_LOG_LINE(threshold, ...)                                                               \
    (static_cast<void>(sizeof(::kvt::log_args::checked_format(__VA_ARGS__))),                      \
     ::kvt::log_line_above(threshold, __VA_ARGS__))

#define log_progress(...) KVT_LOG_LINE(0, __VA_ARGS__)
#define log_error(...) KVT_LOG_LINE(3, __VA_ARGS__)
#define log_error_value(line, value) ::kvt::log_value_line_above(3, line, value)
#define log_error_line(line) ::kvt::log_fixed_line_above(3, line)
