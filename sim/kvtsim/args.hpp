// Argument and result handling shared by the kvtsim command tables.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kvtsim::cli {

// What a command returns when its words do not fit it: kvtsim then prints
// the command's usage line.
inline constexpr int kUsage = 2;
// What a command returns for an argument it cannot take (an unknown name,
// a number out of range), after saying why; no usage line follows.
inline constexpr int kRefused = 3;

// Says "kvtsim: <why>" on standard error and gives kRefused.
int refuse(const std::string &why);

// 0 when `rc` is 0; otherwise 1, after "kvtsim: <what> failed" when `what`
// is given (with ": <reason>" when a file could not be written).
int status(int rc, const char *what = nullptr);

// A whole number (decimal, 0x hex or 0 octal) that fills `text` and fits a
// long long (64 bits on every target), or nullopt.
std::optional<long long> parse_long(const std::string &text);

// Prints `value` on a line and gives 0, or says "kvtsim: no <what> <name>"
// and gives 1 when there is none.
int print_value(const std::optional<std::string> &value, const char *what, const std::string &name);

// Prints each line with its newline; 0.
int print_lines(const std::vector<std::string> &lines);

} // namespace kvtsim::cli
