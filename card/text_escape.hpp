// A text from outside (a card, a record, a file, an object) made safe for
// a log line: its control characters escaped ("\n" as a backslash and an
// n, ESC as "\x1b"), so that it can neither end the line early, forge the
// next one, nor reach a terminal raw.
#pragma once

#include <string>
#include <string_view>

namespace kvt {

void append_escaped(std::string &out, std::string_view text);

} // namespace kvt
