// The text of a log or dump line.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace kvt {

// A text from outside (a card, a record, a file, an object) made safe for
// a line: its control characters escaped ("\n" as a backslash and an n,
// ESC as "\x1b"), so that it can neither end the line early, forge the
// next one, nor reach a terminal raw.
void append_escaped(std::string &out, std::string_view text);

// The printf format with its arguments, however long.
std::string formatted(const char *format, va_list args) __attribute__((format(printf, 1, 0)));

} // namespace kvt
