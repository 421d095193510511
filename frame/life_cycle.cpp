#include "frame/frame.hpp"
#include "frame/frame_internal.hpp"
#include "frame/pcm_link.hpp"
#include "service/hooks.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <unistd.h>

#include "platform/event_mgr.h"
#include "platform/logging.h"
#include "platform/util.h"

static void open_frame_log()
{
    const std::size_t size = std::strlen(processName) + 18;
    // Without memory for the path the log still opens, unconfigured.
    std::unique_ptr<char[]> config(new (std::nothrow) char[size]);
    if (config)
        std::snprintf(config.get(), size, "/conf/%s_log_path", processName);
    init_dblog(processName, config.get());
}

static void announce_to_pcm()
{
    const unsigned int length = std::strlen(processName) + 1;
    if (event_mgr_post_event(kPcmProducerClass, kPcmInitialize, processName, length) != 0)
        critical_log("%s - warning, unable to generate Initialize message.\n", processName);
}

int initialize_daemon()
{
    frameRunning = true;
    currentState = 0;
    processName = trelmproc_get_name();
    open_frame_log();
    require_zero(pthread_mutex_init(&stateMutex, nullptr), __func__);
    announce_to_pcm();
    const int rc = trelmproc_initialize();
    if (rc != 0)
        critical_log("process '%s' failed to initialize, bypass proc start.\n", processName);
    return rc;
}

int run_daemon()
{
    if (int rc = pthread_create(&emThreadId, nullptr, emThread, nullptr); rc != 0) {
        critical_log("Listener Failed to start, bypass proc start.\n");
        return rc;
    }
    const int rc = trelmproc_run();
    frameRunning = false;
    pthread_join(emThreadId, nullptr);
    return rc;
}

int fini_daemon()
{
    fini_dblog_file(0);
    return 0;
}

// get_lock places the fixed path itself, as the logging library does.
// Only a lock that another process holds means another instance; any other
// failure is said as it is, so that no one goes looking for a daemon that
// does not run.
static void take_singleton_lock(const char *argv0)
{
    constexpr const char *kLockPath = "/var/tmp/kvtd_lock";
    if (get_lock(&lockHandle, kLockPath) == 0)
        return;
    const int error = errno;
    if (error == EWOULDBLOCK || error == EAGAIN) {
        std::printf("%s: Another instance is running.\n", last_component(argv0));
    } else {
        char path[4096];
        std::printf("%s: cannot take the lock %s: %s\n", last_component(argv0),
                    sp_resolve_path(kLockPath, path, sizeof path), std::strerror(error));
    }
    std::exit(-1);
}

int frame_main(int argc, char **argv)
{
    keep_stdio_open();
    run_core_dump_copy(argc, argv);
    parse_options(argc, argv);
    if (singletonEnabled)
        take_singleton_lock(argc > 0 && argv[0] ? argv[0] : "");

    int rc = initialize_daemon();
    if (rc != 0)
        return rc;
    if (backgroundMode) {
        if (int forked = daemonize(); forked != 0)
            std::exit(forked);
    }
    if (setup_signal_handlers() != 0) {
        dblog_print(0, "Unable to establish signal handlers.\n");
        rc = -11;
    } else {
        dblog_print(0, "daemon - running on PID %d\n", static_cast<int>(getpid()));
        rc = run_daemon();
        dblog_print(0, "daemon execution complete, rc=%d.\n", rc);
    }
    fini_daemon();
    return rc;
}
