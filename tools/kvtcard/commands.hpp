// The commands' documents; main.cpp renders them and picks the exit code.
#pragma once

#include <string>
#include <vector>

#include "tools/kvtcard/card_file.hpp"
#include "tools/kvtcard/decode.hpp"
#include "tools/kvtcard/node.hpp"

namespace kvtcard {

// { source, valid, verdict, reasons[], warnings[] }
Node verify_card(const Card &card);

// { a, b, same, differences[{ field, a, b }] }; passwords are compared
// as they are but shown masked unless options.show_passwords.
Node diff_cards(const Card &a, const Card &b, const DecodeOptions &options);

// Prints what the running kvtd last found (its status file: the one named in
// `arguments`, or the SP's) and returns the exit code: 0 while the kvtd that
// wrote it runs, 1 once it has ended, 2 without a status file.
int status_command(bool json, const std::vector<std::string> &arguments);

} // namespace kvtcard
