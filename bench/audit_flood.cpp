// Posts audit events through the simulated event manager, as the SP's
// configuration service would: COUNT sets of PATH alternating between
// VALUE_A and VALUE_B, then one set to LAST, so that a watcher of the
// daemon's log knows when all of them have been handled.
// Usage: kvtd_audit_flood COUNT PATH VALUE_A VALUE_B LAST
#include <cstdio>
#include <cstdlib>

#include "sim/control.hpp"
#include "sim/em/audit.hpp"

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: kvtd_audit_flood COUNT PATH VALUE_A VALUE_B LAST\n");
        return 2;
    }
    if (!kvtsim::em_running()) {
        std::fprintf(stderr, "kvtd_audit_flood: no event manager runs on this root\n");
        return 1;
    }
    const long count = std::atol(argv[1]);
    for (long i = 0; i < count; ++i)
        kvtsim::audit_post_luapi(3, 0, argv[2], i % 2 ? argv[4] : argv[3]);
    kvtsim::audit_post_luapi(3, 0, argv[2], argv[5]);
    return 0;
}
