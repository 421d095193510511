// Small file helpers shared by the simulated services. Every simulated
// record is a file under the SP root, so that the daemon, the tests and
// the kvtsim tool see one state across processes. Whatever the simulator
// makes gets a fixed mode, whatever the caller's umask (the daemon in the
// background runs with a umask of 0): directories 0755, files 0644, and
// 0600 for the few that hold secrets.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace kvtsim::files {

inline constexpr mode_t kDirMode = 0755;
inline constexpr mode_t kFileMode = 0644;
inline constexpr mode_t kPrivateMode = 0600;

// Calls `step(done, left)`, one read, write, send or recv of the `left`
// bytes that follow the first `done` and giving the count it moved, until
// all `size` bytes have moved; a call cut short by a signal is repeated.
// False on an error or an end of file.
bool move_all(std::size_t size,
              const std::function<ssize_t(std::size_t done, std::size_t left)> &step);

// Whole contents, or nullopt when the file cannot be read.
std::optional<std::string> read(const std::string &path);

// The one way the simulator rewrites a file: the bytes go to a temporary
// beside it ("<path>.new.XXXXXX"), which is written and given `mode`, then
// renamed over the file, so that a reader in another process
// sees the old contents or the new, never half of them. On any failure the
// temporary is removed again, the file keeps its old contents, and
// last_write_error() (and errno) says why: ENOSPC for a full disk.
bool replace(const std::string &path, std::string_view bytes, mode_t mode = kFileMode);
bool replace(const std::string &path, std::span<const unsigned char> bytes,
             mode_t mode = kFileMode);
// The errno of this thread's last failed replace or append, 0 after one that
// worked.
int last_write_error();

// Opens `path` with `flags`; a file that O_CREAT makes gets `mode` exactly.
// -1 with errno on failure.
int open_file(const std::string &path, int flags, mode_t mode = kFileMode);
// sp_open for a file the simulated services keep for the daemon (its logs,
// its lock): one that is made here gets `mode` exactly.
int open_in_root(const char *fixed_path, int flags, mode_t mode);
// Every missing directory of `dir`, each made with kDirMode. False with errno.
bool make_dirs(const std::string &dir);

// Appends `line` and a newline in one write (O_APPEND keeps concurrent
// writers' lines whole).
bool append_line(const std::string &path, const std::string &line);
// The file's lines without their newlines; empty when it does not exist.
std::vector<std::string> lines(const std::string &path);
bool exists(const std::string &path);
// The first word of the file, or `fallback` when it is missing or empty.
std::string word(const std::string &path, const std::string &fallback);

} // namespace kvtsim::files
