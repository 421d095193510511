#include "frame/frame.hpp"

#include <csignal>
#include <cstdlib>

// Runs on the main thread only: every other thread blocks all signals.
void signal_handler(int sig)
{
    if (sig != SIGINT && sig != SIGQUIT && sig != SIGTERM)
        return;
    if (request_halt("Terminating due to SIGNAL") == 0)
        std::exit(0);
}

// Everything but the three stop signals stays blocked, not ignored, for the
// life of the process; the event thread, created later, inherits the mask.
int setup_signal_handlers()
{
    struct sigaction action = {};
    action.sa_handler = signal_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;

    sigset_t set;
    if (int rc = sigfillset(&set); rc != 0)
        return rc;
    if (int rc = pthread_sigmask(SIG_BLOCK, &set, nullptr); rc != 0)
        return rc;

    sigemptyset(&set);
    for (int sig : {SIGINT, SIGQUIT, SIGTERM}) {
        sigaction(sig, &action, nullptr);
        sigaddset(&set, sig);
    }
    return pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}
