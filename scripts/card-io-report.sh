#!/bin/sh
# Prints the card I/O report (Markdown) of a release build: bytes asked to
# write, pages programmed in both write modes, modelled bus time and the
# daemon's CPU share, per change and for start-up and the fatal stop.
# Usage: scripts/card-io-report.sh [ROUNDS]   (build dir: $KVT_BUILD_DIR)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KVT_BUILD_DIR:-$top/build/release}
rounds=${1:-200}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKVT_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target kvtd_card_io_report >/dev/null
KVT_SIM_TIME_SCALE=0 "$build/kvtd_card_io_report" --rounds "$rounds"
