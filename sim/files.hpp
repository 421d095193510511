// Small file helpers shared by the simulated services. Every simulated
// record is a file under the SP root, so that the daemon, the tests and
// the kvtsim tool see one state across processes.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <sys/types.h>

namespace kvtsim::files {

// Calls `step(done, left)`, one read, write, send or recv of the `left`
// bytes that follow the first `done` and giving the count it moved, until
// all `size` bytes have moved; a call cut short by a signal is repeated.
// False on an error or an end of file.
bool move_all(std::size_t size,
              const std::function<ssize_t(std::size_t done, std::size_t left)> &step);

// Whole contents, or nullopt when the file cannot be read.
std::optional<std::string> read(const std::string &path);
// Replaces the file through a temporary and a rename, so that a reader in
// another process sees the old contents or the new, never half of them.
bool replace(const std::string &path, std::span<const unsigned char> bytes);
bool replace(const std::string &path, const std::string &text);
// Appends `line` and a newline in one write (O_APPEND keeps concurrent
// writers' lines whole).
bool append_line(const std::string &path, const std::string &line);
// The file's lines without their newlines; empty when it does not exist.
std::vector<std::string> lines(const std::string &path);
bool exists(const std::string &path);
// The first word of the file, or `fallback` when it is missing or empty.
std::string word(const std::string &path, const std::string &fallback);

} // namespace kvtsim::files
