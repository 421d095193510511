// Texts that a restore takes from a card and hands to the SP. A card can
// come from any SP or from anyone's hands: a text that the SP's own
// capture could not read back, or that would break the file or database it
// goes into, is skipped with a log line instead of being applied.
#pragma once

#include <string_view>

#include "card/image.hpp"

namespace kvt {

// Why a text is not applied, or nullptr when it may be. Each reason is a
// phrase for the restore's log line ("holds a control character").
using TextProblem = const char *;

// Control characters: the bytes below 0x20 and 0x7F.
bool has_control_char(std::string_view text);

// A CLI-mode entry in use (first name byte not NUL) as a "%s:%s\n" line
// that the capture's "%[^:]:%s" reads back whole: a name of 1 to 16
// characters without a colon, a mode of 1 to 16 characters without blanks,
// neither with a control character.
TextProblem climode_entry_problem(const CliModeEntry &entry);

// A saved user's name (its emptiness is the account filter's concern) and
// password: at most 16 characters, no control character; no colon in the
// name, the field separator of the system's password files.
TextProblem user_name_problem(const TextField<17> &name);
TextProblem password_problem(const TextField<17> &password);

// A text for a configuration object: no control character. (An over-long
// text is cut to its field, not refused.)
TextProblem object_text_problem(std::string_view text);

} // namespace kvt
