// One full life of kvtd under valgrind's memcheck: start-up capture onto a
// blank card, a live change from the event manager, and the clean end on
// SIGTERM. Any memory error or definite leak makes valgrind end the daemon
// with its own exit code instead of 0.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "sim/control.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/event_recorder.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KVT_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KVT_SANITIZED 1
#endif
#endif

namespace {

using namespace std::chrono_literals;
using kvttest::wait_until;

TEST(Valgrind, CaptureChangeAndStopWithoutMemoryErrors)
{
#ifdef KVT_SANITIZED
    GTEST_SKIP() << "a sanitizer build does not run under valgrind";
#endif
    if (std::system("command -v valgrind >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "valgrind is not installed";

    kvttest::SimRoot root;
    const kvttest::EventManager em;
    ASSERT_TRUE(em.started());
    const char *report = "/var/log/valgrind.log";
    {
        // memcheck runs the daemon tens of times slower: its waits get
        // longer in step, and so do ours.
        kvttest::Daemon daemon(
            {.time_scale = 0.2,
             .wrapper = {"valgrind", "--tool=memcheck", "--vgdb=no", "--error-exitcode=99",
                         "--leak-check=full", "--errors-for-leak-kinds=definite",
                         "--log-file=" + kvtsim::path_in_root(report)}});
        ASSERT_TRUE(wait_until([] { return kvttest::log_has(kvttest::kRunning); }, 300s))
            << root.service_log();
        ASSERT_TRUE(wait_until([] { return kvttest::log_has("registered for events\n"); }, 300s))
            << root.service_log();
        kvttest::expect_card_is_this_sps();

        // mailhost_port, big-endian: 2525 is 0x09DD.
        ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", "2525"), 0);
        EXPECT_TRUE(wait_until(
            [] {
                const auto card = kvtsim::card_image();
                return card && (*card)[0x57A] == 0x09 && (*card)[0x57B] == 0xDD;
            },
            300s))
            << root.service_log();

        EXPECT_EQ(kvttest::exit_code(daemon.stop(SIGTERM, 300s)), 0)
            << root.read("/var/log/kvtd.frame.log");
    }
    const std::string text = root.read(report);
    EXPECT_NE(text.find("ERROR SUMMARY: 0 errors"), std::string::npos) << text;
}

} // namespace
