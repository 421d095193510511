// Text files of the simulated SP (its stores under <root>/sim/, the
// CLI-mode file) that several processes share: the daemon, the kvtsim tool,
// tests. Every read takes a shared lock and every read-modify-write an
// exclusive one, on "<root>/sim/<file name>.lock", and a rewrite replaces
// the file in one rename so no reader sees half of it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/root/files.hpp"

namespace kvtsim {

// The whole file under a shared lock; empty when it does not exist.
std::string read_locked(const std::string &path);
// Runs `edit` on the contents under an exclusive lock and writes the result
// back (files::replace, with `mode`) when `edit` returns true. False when
// the file could not be written (files::last_write_error() says why).
bool edit_locked(const std::string &path, const std::function<bool(std::string &)> &edit,
                 mode_t mode = files::kFileMode);
// Replaces the file as a whole (under the lock).
bool write_locked(const std::string &path, std::string_view text, mode_t mode = files::kFileMode);
// True once keep_stores_in_memory() was called in this process.
bool stores_held_in_memory();

// A file of "key<TAB>value" lines in a fixed order. Keys hold neither tab
// nor newline; values hold no newline (the stores refuse such values).
using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs parse_pairs(std::string_view text);
std::string format_pairs(const Pairs &pairs);
std::optional<std::string> find_pair(const Pairs &pairs, std::string_view key);
// A key's value, and setting it in place (or appending its line), on the
// file's text itself: the stores hold hundreds of lines and are read and
// set one object at a time.
std::optional<std::string> find_in_text(std::string_view text, std::string_view key);
void put_in_text(std::string &text, std::string_view key, std::string_view value);

} // namespace kvtsim
