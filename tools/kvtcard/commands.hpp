// The commands' documents; main.cpp renders them and picks the exit code.
#pragma once

#include "tools/kvtcard/card_file.hpp"
#include "tools/kvtcard/decode.hpp"
#include "tools/kvtcard/node.hpp"

namespace kvtcard {

// { source, valid, verdict, reasons[], warnings[] }
Node verify_card(const Card &card);

// { a, b, same, differences[{ field, a, b }] }; passwords are compared
// as they are but shown masked unless options.show_passwords.
Node diff_cards(const Card &a, const Card &b, const DecodeOptions &options);

} // namespace kvtcard
