#!/usr/bin/env bash
# Long run of the seeded interoperability model (tests/e2e/interop_model_test.cpp):
# SCENARIOS scenarios of 30 steps from seed FIRST, shared out between
# KVT_MODEL_JOBS processes (default 2; the model mostly waits for kvtd), and
# one summary of the figures the model counts. A failing scenario prints its
# seed and steps; KVT_MODEL_SEED=<seed> on the test binary replays it step by
# step.
#
#   scripts/model-long.sh [SCENARIOS [FIRST]]     (build dir: $KVT_BUILD_DIR, default build/debug)
set -euo pipefail
cd "$(dirname "$0")/.."

scenarios=${1:-1000}
first=${2:-1}
jobs=${KVT_MODEL_JOBS:-2}
build=${KVT_BUILD_DIR:-build/debug}

if [ ! -f "$build/build.ninja" ]; then
    cmake --preset debug -B "$build" >/dev/null
fi
cmake --build "$build" --target interop_model_test kvtd kvtcard kvtsim kvtsim-em >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

start=$(date +%s)
share=$(( (scenarios + jobs - 1) / jobs ))
pids=()
for (( j = 0; j < jobs; j++ )); do
    from=$(( first + j * share ))
    count=$(( scenarios - j * share < share ? scenarios - j * share : share ))
    [ "$count" -gt 0 ] || break
    KVT_SIM_TIME_SCALE=0.01 KVT_MODEL_FIRST_SEED=$from KVT_MODEL_SCENARIOS=$count \
        "$build/tests/interop_model_test" >"$work/job$j.log" 2>&1 &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done
seconds=$(( $(date +%s) - start ))

grep -h '^model:' "$work"/job*.log | awk -v s="$seconds" '
    { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+$/) n[i] += $i; line = $0 }
    END {
        split(line, w, " ");
        out = "";
        for (i = 1; i <= length(w); i++) out = out (i > 1 ? " " : "") ((i in n) ? n[i] : w[i]);
        print out; printf "time: %d s\n", s
    }'
if [ "$status" -ne 0 ]; then
    grep -h -A40 'Failure' "$work"/job*.log | head -80
    echo "model-long: an invariant broke (seed and steps above)" >&2
fi
exit "$status"
