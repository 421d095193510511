#!/bin/sh
# Runs the benchmarks fully on a release build and writes the report: the
# Google Benchmark table and the card I/O report.
# Usage: scripts/bench.sh [REPORT]   (build dir: $KVT_BUILD_DIR,
# default build/release; report default <build>/performance-report.md)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KVT_BUILD_DIR:-$top/build/release}
report=${1:-$build/performance-report.md}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKVT_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target kvtd_bench kvtd_card_io_report

{
    echo "# kvtd benchmarks, $(date -u +%Y-%m-%d) on $(uname -m), $(nproc) cores"
    echo
    echo '## CPU time per operation (Google Benchmark)'
    echo
    echo '```'
    KVT_SIM_TIME_SCALE=0 "$build/kvtd_bench" --benchmark_repetitions=3 \
        --benchmark_report_aggregates_only=true 2>&1
    echo '```'
    echo
    echo '## Card I/O'
    echo
    KVT_BUILD_DIR=$build "$top/scripts/card-io-report.sh" 200
} >"$report"
echo "report written to $report"
