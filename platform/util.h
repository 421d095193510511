/* Platform utilities: the process lock, path tests, and the points where
 * the daemon meets the operating system's files, time and shell. */
#ifndef KVT_PLATFORM_UTIL_H
#define KVT_PLATFORM_UTIL_H

#include <stddef.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Takes a lock that is exclusive per path for the life of the process.
 * 0 when this process now holds it; otherwise -1 with errno EWOULDBLOCK
 * when another process holds it, or the error that kept the lock file from
 * being opened. */
int get_lock(long *handle, const char *path);

/* Non-zero when `path` names the host console object. */
int is_host_console(const char *path);

/* 0 when the last `n` characters of `s` equal those of `suffix`. */
int strrcmp_helper(const char *s, const char *suffix, size_t n);

/* Every fixed file path the daemon uses ("/var/log/kvtd.log", ...) passes
 * through here before it is opened. On the SP the path comes back as it
 * is. Returns `out`, always NUL-terminated. */
const char *sp_resolve_path(const char *fixed_path, char *out, size_t out_len);

/* The daemon's own file operations on its fixed paths, as open(2),
 * write(2), fsync(2), close(2), rename(2) and unlink(2) do them: -1 with
 * errno on failure. On the SP they are those calls on the path as it is;
 * the simulated SP opens under its root without following symbolic links,
 * and can be told to fail any step. */
int sp_open(const char *fixed_path, int flags, mode_t mode);
ssize_t sp_write(int fd, const void *data, size_t len);
int sp_fsync(int fd);
int sp_close(int fd);
int sp_rename(const char *fixed_from, const char *fixed_to);
int sp_unlink(const char *fixed_path);
/* lstat(2) and readlink(2) on a fixed path: what lies at the path itself,
 * a symbolic link there not followed. On the simulated SP an absolute link
 * target is a fixed path again (it stays under the root). */
int sp_lstat(const char *fixed_path, struct stat *st);
ssize_t sp_readlink(const char *fixed_path, char *buf, size_t len);

/* Sleeps for `seconds` of platform time; a signal cuts it short.
 * Returns 0, or -1 when interrupted. */
int sp_sleep(unsigned int seconds);

/* Runs a shell command as system(3) does. */
int sp_system(const char *command);

#ifdef __cplusplus
}
#endif

#endif
