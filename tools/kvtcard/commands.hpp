// The commands' documents; main.cpp renders them and picks the exit code.
#pragma once

#include "tools/kvtcard/card_file.hpp"
#include "tools/kvtcard/decode.hpp"
#include "tools/kvtcard/node.hpp"

namespace kvtcard {

// { source, valid, reasons[] }
Node verify_card(const Card &card);

// { a, b, same, differences[{ field, a, b }] }; passwords are compared
// as they are but shown masked unless options.show_passwords.
Node diff_cards(const Card &a, const Card &b, const DecodeOptions &options);

// What start-up and a restore of `card` would do on the simulated SP of the
// current root: { source, root, startup{...}, objects[], network[], users{},
// cli_mode_file{} }.
Node preview_card(const Card &card, const DecodeOptions &options);

// { action, reasons[], card_valid, card_mac, sp_mac, daemon_state, moved }
Node startup_decision(const kvt::Image &image);

// Prints what the running kvtd last found (its status file) and returns the
// exit code: 0 while the kvtd that wrote it runs, 1 once it has ended, 2
// without a status file or with `arguments` given.
int status_command(bool json, std::size_t arguments);

} // namespace kvtcard
