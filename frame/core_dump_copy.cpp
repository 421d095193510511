// A copy of the daemon placed in the core-dump directory takes precedence
// over the installed one: it is how a patched binary is tried on an SP
// whose root file system is read-only.
#include "frame/frame.hpp"
#include "frame/frame_internal.hpp"

#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "platform/util.h"

static void warn_on_console(const char *path)
{
    char console[256];
    std::FILE *out = std::fopen(sp_resolve_path("/dev/console", console, sizeof console), "a");
    if (!out)
        return;
    std::fprintf(out, "*** Warning: running %s\n", path);
    std::fflush(out);
    std::fclose(out);
}

void run_core_dump_copy(int argc, char **argv)
{
    if (argc < 1 || !argv[0] || std::strstr(argv[0], "/coredump"))
        return;
    char fixed[256];
    const int n = std::snprintf(fixed, sizeof fixed, "/coredump/%s", last_component(argv[0]));
    // A cut name would name some other file.
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof fixed)
        return;
    // Stays valid as argv[0] when execvp returns.
    static char path[512];
    sp_resolve_path(fixed, path, sizeof path);
    if (access(path, X_OK) != 0)
        return;
    warn_on_console(path);
    argv[0] = path;
    execvp(path, argv);
}
