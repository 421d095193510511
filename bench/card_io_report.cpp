// The card I/O report: for every tracked change, for start-up's capture and
// restore and for the fatal stop's write, what the card library did on the
// bus against the physical floor, and what it does to the card's life.
//
// The floor of a change is what no torn-safe library can go below: one page
// write per page holding a changed image byte (from its first to its last
// changed byte), plus one 32-byte record slot, and no reads; start-up adds
// one read of the 1832-byte image. Prints a Markdown table, and a second
// one of the transfers an empty slot costs: the card monitor's failed
// check, the presence check.
// Usage: kvtd_card_io_report [--rounds N]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_sp.hpp"
#include "cardlib/eeprom_device.hpp"
#include "cardlib/i2c_bus.hpp"
#include "platform/card_lib.h"
#include "service/kvtd.hpp"
#include "sim/card/card_chip.hpp"
#include "sim/control.hpp"

namespace {

constexpr std::size_t kPage = 32;
constexpr std::size_t kSlotBytes = 32;
constexpr double kEndurance = 1e6;                // write cycles a page is rated for
constexpr double kChangesPerYear = 60 * 24 * 365; // one change a minute

struct Scenario {
    std::string name;
    std::function<void(int)> prepare; // not measured
    std::function<void(int)> run;     // measured: CPU time and card I/O
    bool reads_image = false;         // start-up: the floor includes one image read
};

struct Figures {
    kvtsim::CardIo io;    // summed over the measured rounds
    kvtsim::CardIo floor; // the same, at the floor
    double cpu_ms = 0;
    int rounds = 0;
    std::vector<std::uint64_t> programs; // per page, over the measured rounds
    std::uint64_t most_in_one_round = 0;

    std::uint64_t hottest() const
    {
        return programs.empty() ? 0 : *std::max_element(programs.begin(), programs.end());
    }

    double per_round(std::uint64_t total) const { return static_cast<double>(total) / rounds; }
    double bus_ms(const kvtsim::CardIo &of, unsigned khz) const
    {
        return kvtsim::card_io_ms(of, khz) / rounds;
    }
};

double thread_cpu_ms()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The floor of turning the card's image area from `before` into `after`.
kvtsim::CardIo floor_of(const std::vector<unsigned char> &before,
                        const std::vector<unsigned char> &after, bool reads_image)
{
    kvtsim::CardIo floor;
    const std::size_t end = kvtsim::kImageOffset + kvtsim::kImageSize;
    for (std::size_t page = kvtsim::kImageOffset; page < end; page += kPage) {
        std::size_t first = page, last = page;
        bool changed = false;
        for (std::size_t at = page; at < std::min(page + kPage, end); ++at)
            if (before.at(at) != after.at(at)) {
                first = changed ? first : at;
                last = at;
                changed = true;
            }
        if (!changed)
            continue;
        ++floor.pages_programmed;
        floor.bytes_written += last - first + 1;
    }
    if (floor.pages_programmed > 0) {
        ++floor.pages_programmed;
        floor.bytes_written += kSlotBytes;
    }
    if (reads_image) {
        floor.reads = 1;
        floor.bytes_read = kvtsim::kImageSize;
    }
    return floor;
}

// Round 0 sets the SP up and is not counted: from round 1 on every round
// is a real change of the card.
Figures measure(const Scenario &s, int rounds)
{
    kvtsim::card_insert_blank();
    kvtbench::startup_capture();
    Figures f;
    for (int round = 0; round <= rounds; ++round) {
        if (s.prepare)
            s.prepare(round);
        const std::vector<unsigned char> before = kvtsim::card_eeprom();
        const std::vector<std::uint64_t> programs_before = kvtsim::card_page_programs();
        kvtsim::card_io_reset();
        const double start = thread_cpu_ms();
        s.run(round);
        const double spent = thread_cpu_ms() - start;
        if (round == 0)
            continue;
        f.io += kvtsim::card_io();
        f.floor += floor_of(before, kvtsim::card_eeprom(), s.reads_image);
        f.cpu_ms += spent;
        ++f.rounds;
        const std::vector<std::uint64_t> programs = kvtsim::card_page_programs();
        f.programs.resize(programs.size());
        for (std::size_t p = 0; p < programs.size(); ++p) {
            const std::uint64_t now = programs[p] - programs_before[p];
            f.programs[p] += now;
            f.most_in_one_round = std::max(f.most_in_one_round, now);
        }
    }
    return f;
}

std::vector<Scenario> scenarios()
{
    std::vector<Scenario> list;
    for (const kvtbench::Change &c : kvtbench::changes())
        list.push_back({c.name, c.prepare, c.deliver});
    // The port the card already holds: nothing to program.
    const auto &smtp_port = kvtbench::changes().front().deliver;
    list.push_back({"smtp_port (same value)", [](int) {}, [&smtp_port](int) { smtp_port(0); }});
    // Start-up as the daemon runs it: card read, decision, capture or
    // restore, whole-image write.
    list.push_back({"startup capture (blank card)", [](int) { kvtsim::card_insert_blank(); },
                    [](int) { trelmproc_initialize(); }, true});
    list.push_back({"startup capture (after a fatal stop)",
                    [](int) {
                        kvtbench::fatal_stop_write();
                        kvtsim::set_daemon_state("shutdown");
                    },
                    [](int) { trelmproc_initialize(); }, true});
    list.push_back({"startup restore (card of another SP)",
                    [](int) {
                        const kvtsim::Mac other{0x00, 0x14, 0x4f, 0xaa, 0xbb, 0xcc};
                        kvtsim::card_insert_image(kvtsim::foreign_image(other));
                    },
                    [](int) { trelmproc_initialize(); }, true});
    list.push_back({"fatal stop write", [](int) { kvtbench::startup_capture(); },
                    [](int) { kvtbench::fatal_stop_write(); }});
    return list;
}

// "(1.05x)", or "" when the floor is nothing at all.
std::string ratio(double measured, double floor)
{
    if (floor <= 0)
        return "";
    char text[16];
    std::snprintf(text, sizeof text, " (%.2fx)", measured / floor);
    return text;
}

// Years until the hottest page reaches its rated cycles at one change a
// minute; "-" when the change programs nothing.
std::string life_years(const Figures &f)
{
    if (f.hottest() == 0)
        return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.2f",
                  kEndurance / (static_cast<double>(f.hottest()) / f.rounds * kChangesPerYear));
    return text;
}

void print_row(const std::string &name, const Figures &f)
{
    std::printf("| %s | %.1f / %.1f | %.1f / %.0f | %.2f / %.2f%s | %.2f / %.2f%s | "
                "%llu | %s | %.3f |\n",
                name.c_str(), f.per_round(f.io.pages_programmed),
                f.per_round(f.floor.pages_programmed), f.per_round(f.io.reads),
                f.per_round(f.io.bytes_read), f.bus_ms(f.io, 100), f.bus_ms(f.floor, 100),
                ratio(f.bus_ms(f.io, 100), f.bus_ms(f.floor, 100)).c_str(), f.bus_ms(f.io, 400),
                f.bus_ms(f.floor, 400), ratio(f.bus_ms(f.io, 400), f.bus_ms(f.floor, 400)).c_str(),
                static_cast<unsigned long long>(f.most_in_one_round), life_years(f).c_str(),
                f.cpu_ms / f.rounds);
}

// Transfers the card chip saw per run of `operation`, acknowledge polls
// included.
double transfers_each(int rounds, const std::function<void()> &operation)
{
    const std::uint64_t before = kvtsim::card_chip().transfers();
    for (int n = 0; n < rounds; ++n)
        operation();
    return static_cast<double>(kvtsim::card_chip().transfers() - before) / rounds;
}

void print_empty_slot(int rounds)
{
    kvtsim::card_pull();
    while (cardlib::write_cycle_running())
        std::this_thread::yield();
    std::printf("\nWith the slot empty, transfers per operation (polls included):\n\n");
    std::printf("| operation | transfers |\n|---|---|\n");
    std::printf("| card monitor's failed header check (`check_kvt_chip`) | %.1f |\n",
                transfers_each(rounds, [] { check_kvt_chip(); }));
    std::printf("| presence check (`present()`, kvtcard detect) | %.1f |\n",
                transfers_each(rounds, [] { cardlib::board_card_device().present(); }));
    kvtsim::card_insert();
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = 50;
    if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0)
        rounds = std::max(1, std::atoi(argv[2]));
    kvtbench::TempSp sp;
    kvtbench::add_users(11);

    std::printf("Per change, averaged over %d rounds. Pages: programmed / floor. Reads: count / "
                "bytes. Bus ms: measured / floor (ratio), write cycles included. Max/page: the "
                "most any one page was programmed in one change. Life: years until the hottest "
                "page reaches 10^6 cycles at one change a minute. CPU: daemon thread time per "
                "change, simulated card included.\n\n",
                rounds);
    std::printf("| change | pages | reads | ms @100 kHz | ms @400 kHz | max/page | life (y) | "
                "CPU ms |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const Scenario &s : scenarios())
        print_row(s.name, measure(s, rounds));
    print_empty_slot(rounds);
    return 0;
}
