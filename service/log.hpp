// The service log "/var/log/kvtd.log". Every line is two appends: the time
// text and a blank, then the message. Progress lines are written while the
// debug level is above 0, error lines while it is above 3.
#pragma once

namespace kvt {

inline constexpr const char *kServiceLogPath = "/var/log/kvtd.log";

// Process-wide debug level; 100, and nothing changes it.
extern int debug_level;

void log_line_above(int threshold, const char *format, ...) __attribute__((format(printf, 2, 3)));

} // namespace kvt

#define log_progress(...) ::kvt::log_line_above(0, __VA_ARGS__)
#define log_error(...) ::kvt::log_line_above(3, __VA_ARGS__)
