// The service log "/var/log/kvtd.log". Every line is two appends: the time
// text and a blank, then the message. Progress lines are written while the
// debug level is above 0, error lines while it is above 3.
//
// The message's format is the daemon's own and is written as it stands,
// its newlines included. Every text handed in through "%s" may come from a
// card, a record, a file or an object: its control characters are written
// escaped ("\n" as a backslash and an n, ESC as "\x1b"), so that no such
// text can end a line early, forge the next one or reach a terminal raw.
#pragma once

#include <cstdarg>
#include <string>

namespace kvt {

inline constexpr const char *kServiceLogPath = "/var/log/kvtd.log";

// Process-wide debug level; 100, and nothing changes it.
extern int debug_level;

void log_line_above(int threshold, const char *format, ...) __attribute__((format(printf, 2, 3)));

// A whole line of the daemon's own, written exactly as it stands (for the
// few places that hold one of several fixed lines in a variable).
void log_fixed_line_above(int threshold, const char *line);

// The message as log_line_above writes it: "%s" texts escaped, and a line
// over kMaxMessage characters cut there, keeping the format's newline.
inline constexpr std::size_t kMaxMessage = 16384;
std::string format_log_message(const char *format, va_list args);

} // namespace kvt

#define log_progress(...) ::kvt::log_line_above(0, __VA_ARGS__)
#define log_error(...) ::kvt::log_line_above(3, __VA_ARGS__)
#define log_error_line(line) ::kvt::log_fixed_line_above(3, line)
