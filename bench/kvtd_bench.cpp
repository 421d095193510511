// CPU time of the daemon per tracked change, from the delivery of the audit
// event to the return of the card write, and of start-up's capture and
// restore, against the simulated SP in a temporary root. The simulated card
// library's own file I/O is inside every figure; the WriteOutKvt baselines
// show how much of it is the card library rather than the daemon.
#include <benchmark/benchmark.h>

#include <memory>

#include "base/section_write.hpp"
#include "bench/bench_sp.hpp"
#include "card/sections.hpp"
#include "platform/card_lib.h"
#include "sim/control.hpp"

namespace {

std::unique_ptr<kvtbench::TempSp> sp;

void change(benchmark::State &state, const kvtbench::Change &c)
{
    kvtbench::add_users(11);
    kvtbench::startup_capture();
    int round = 0;
    for (auto _ : state) {
        if (c.prepare) {
            state.PauseTiming();
            c.prepare(round);
            state.ResumeTiming();
        }
        c.deliver(round++);
    }
}

void capture(benchmark::State &state)
{
    kvtbench::add_users(11);
    for (auto _ : state)
        kvtbench::startup_capture();
}

void restore(benchmark::State &state)
{
    kvtbench::add_users(11);
    kvtbench::startup_capture();
    for (auto _ : state)
        kvtbench::startup_restore();
}

// The card library alone: one section write whose content alternates.
void write_out_section7(benchmark::State &state)
{
    kvtbench::startup_capture();
    int round = 0;
    for (auto _ : state) {
        kvt_image.mailhost_port.set(static_cast<std::uint16_t>(25 + (round++ % 2)));
        kvt::commit_section(kvt::Section::console);
    }
}

void register_all()
{
    for (const kvtbench::Change &c : kvtbench::changes())
        benchmark::RegisterBenchmark(("AuditEvent/" + c.name).c_str(),
                                     [&c](benchmark::State &state) { change(state, c); });
    benchmark::RegisterBenchmark("StartupCapture", capture);
    benchmark::RegisterBenchmark("WriteOutKvtSection7", write_out_section7);
    benchmark::RegisterBenchmark("StartupRestore", restore);
}

} // namespace

int main(int argc, char **argv)
{
    sp = std::make_unique<kvtbench::TempSp>();
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sp.reset();
    return 0;
}
