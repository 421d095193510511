#include "frame/frame.hpp"
#include "frame/frame_internal.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void require_zero(int rc, const char *function)
{
    if (rc == 0)
        return;
    std::fprintf(stderr, "%s: %s: Assertion `rc == 0' failed.\n", processName, function);
    std::abort();
}

const char *last_component(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}
