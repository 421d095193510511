#!/usr/bin/env bash
# Long fuzzing run: every libFuzzer target for the given number of seconds,
# each on a working corpus that persists between runs (seeded from
# fuzz/corpus/<target>), and a summary of executions and findings.
#
#   scripts/fuzz-long.sh [seconds-per-target] [target...]
#
# Environment: KVT_FUZZ_BUILD_DIR (default build/fuzz), KVT_FUZZ_PARALLEL
# (targets run at once, default 1), KVT_FUZZ_JOBS (processes per target,
# sharing its corpus, default 1), KVT_FUZZ_RUNS (stop a target once it has
# run this many inputs, shared out between its processes, even before its
# time is up), KVT_FUZZ_ASAN (OFF builds the targets with UBSan only, some
# two and a half times faster; default ON).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(audit_intake card_image kvt_data climode_file writer_values card_verdict
                                   restore_capture round_trip)
build=${KVT_FUZZ_BUILD_DIR:-build/fuzz}
parallel=${KVT_FUZZ_PARALLEL:-1}
jobs=${KVT_FUZZ_JOBS:-1}
work="$build/fuzz/long"

scripts/deps.sh --fuzz
cmake --preset fuzz -B "$build" -DKVT_FUZZ_ASAN="${KVT_FUZZ_ASAN:-ON}" >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"
mkdir -p "$work"
work=$(cd "$work" && pwd)

# The simulated SP rewrites its files through renames, which ext4 answers
# with writeback on every close: as root, each fuzz process gets a tmpfs of
# its own in a private mount namespace (invisible to the rest of the
# machine) for its SP root. Otherwise the system's temporary directory is used.
run_process() {
  local target=$1 dir=$2
  local cmd=("$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=30
             -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/")
  [ -z "${KVT_FUZZ_RUNS:-}" ] || cmd+=(-runs=$(((KVT_FUZZ_RUNS + jobs - 1) / jobs)))
  cmd+=("$dir/corpus" "fuzz/corpus/$target")
  # Five frames of each allocation's stack instead of thirty: recording them
  # took a sixth of an input's time; a finding is re-run for the rest.
  export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64:malloc_context_size=5}
  if [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
    local tmp
    tmp=$(mktemp -d "$dir/tmp/XXXXXX")
    unshare --mount sh -c 'mount -t tmpfs -o size=512m tmpfs "$0" && TMPDIR="$0" exec "$@"' \
      "$tmp" "${cmd[@]}" || true
    rmdir "$tmp"
  else
    "${cmd[@]}" || true
  fi
}

run_target() {
  local target=$1 dir="$work/$1"
  mkdir -p "$dir/corpus" "$dir/tmp"
  rm -f "$dir"/fuzz.*.log
  touch "$dir/.start"
  local started=$SECONDS job
  for ((job = 1; job <= jobs; job++)); do
    run_process "$target" "$dir" >"$dir/fuzz.$job.log" 2>&1 &
  done
  wait
  local execs=0 count findings
  for log in "$dir"/fuzz.*.log; do
    count=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    execs=$((execs + ${count:-0}))
  done
  findings=$(find "$dir" -maxdepth 1 -newer "$dir/.start" \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
             -o -name 'oom-*' \) | wc -l)
  local took=$((SECONDS - started))
  echo "$target $execs $findings ${took}s" >>"$work/summary.txt"
  echo "$target: $execs executions in ${took}s by $jobs process(es), findings: $findings (logs $dir/fuzz.*.log)"
}

: >"$work/summary.txt"
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n; done
  run_target "$target" &
done
wait
echo "== summary (target executions findings time), also in $work/summary.txt"
cat "$work/summary.txt"
