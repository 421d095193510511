// The card I/O report: for every tracked change, for start-up's capture and
// restore and for the fatal stop's write, what the daemon asks to write,
// the pages the card programs in each write mode, the modelled bus time at
// 100 and 400 kHz, and the daemon's CPU time per change as a share of it.
// Prints a Markdown table. Usage: kvtd_card_io_report [--rounds N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_sp.hpp"
#include "platform/card_lib.h"
#include "service/kvtd.hpp"
#include "sim/control.hpp"

namespace {

struct Scenario {
    std::string name;
    std::function<void(int)> prepare; // not measured
    std::function<void(int)> run;     // measured: CPU time and card I/O
};

struct Figures {
    kvtsim::CardIo io; // summed over the measured rounds
    double cpu_ms = 0;
    int rounds = 0;

    double per_round(std::uint64_t total) const { return static_cast<double>(total) / rounds; }
    double bus_ms(unsigned khz) const { return kvtsim::card_io_ms(io, khz) / rounds; }
    double cpu_per_round() const { return cpu_ms / rounds; }
};

double thread_cpu_ms()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Round 0 sets the SP up and is not counted: from round 1 on every round
// is a real change of the card.
Figures measure(const Scenario &s, const char *mode, int rounds)
{
    kvtsim::use_card_write_mode(mode);
    kvtsim::card_insert_blank();
    kvtbench::startup_capture();
    Figures f;
    for (int round = 0; round <= rounds; ++round) {
        if (s.prepare)
            s.prepare(round);
        kvtsim::card_io_reset();
        const double before = thread_cpu_ms();
        s.run(round);
        const double spent = thread_cpu_ms() - before;
        if (round == 0)
            continue;
        f.io += kvtsim::card_io();
        f.cpu_ms += spent;
        ++f.rounds;
    }
    return f;
}

std::vector<Scenario> scenarios()
{
    std::vector<Scenario> list;
    for (const kvtbench::Change &c : kvtbench::changes())
        list.push_back({c.name, c.prepare, c.deliver});
    // Start-up as the daemon runs it: card read, decision, capture or
    // restore, whole-image write.
    list.push_back({"startup capture (blank card)", [](int) { kvtsim::card_insert_blank(); },
                    [](int) { trelmproc_initialize(); }});
    list.push_back({"startup restore (card of another SP)",
                    [](int) {
                        const kvtsim::Mac other{0x00, 0x14, 0x4f, 0xaa, 0xbb, 0xcc};
                        kvtsim::card_insert_image(kvtsim::foreign_image(other));
                    },
                    [](int) { trelmproc_initialize(); }});
    list.push_back({"fatal stop write", [](int) { kvtbench::startup_capture(); },
                    [](int) { kvtbench::fatal_stop_write(); }});
    return list;
}

void print_row(const std::string &name, const Figures &all, const Figures &changed)
{
    const double cpu = changed.cpu_per_round();
    std::printf(
        "| %s | %.0f | %.1f | %.1f | %.2f / %.2f | %.2f / %.2f | %.3f | %.1f%% / %.1f%% |\n",
        name.c_str(), changed.per_round(changed.io.bytes_requested),
        all.per_round(all.io.pages_programmed), changed.per_round(changed.io.pages_programmed),
        all.bus_ms(100), changed.bus_ms(100), all.bus_ms(400), changed.bus_ms(400), cpu,
        100 * cpu / changed.bus_ms(100), 100 * cpu / changed.bus_ms(400));
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = 50;
    if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0)
        rounds = std::max(1, std::atoi(argv[2]));
    kvtbench::TempSp sp;
    kvtbench::add_users(11);

    std::printf("Per change, averaged over %d rounds. Bus ms: all mode / changed mode, write "
                "cycles and the read-before-write included. CPU: daemon thread time per change "
                "in changed mode, simulated card library included.\n\n",
                rounds);
    std::printf("| change | bytes asked | pages (all) | pages (changed) | ms @100 kHz | "
                "ms @400 kHz | CPU ms | CPU / bus @100 / @400 kHz |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const Scenario &s : scenarios()) {
        const Figures all = measure(s, "all", rounds);
        const Figures changed = measure(s, "changed", rounds);
        print_row(s.name, all, changed);
    }
    return 0;
}
