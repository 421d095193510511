#include "frame/frame.hpp"
#include "service/hooks.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static void print_usage()
{
    std::puts("       -0   Disable Singleton.");
    std::puts("       -b   background mode(Forked Daemon).");
    std::puts("       -h   this options list.");
}

// Unknown arguments are accepted silently: the PCM may pass options meant
// for other daemons it starts the same way.
void parse_options(int argc, char **argv)
{
    trelmproc_configure(argc, argv);
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "-b") == 0)
            backgroundMode = true;
        else if (std::strcmp(argv[i], "-0") == 0)
            singletonEnabled = false;
        else if (std::strcmp(argv[i], "-h") == 0) {
            print_usage();
            std::exit(0);
        }
    }
}
