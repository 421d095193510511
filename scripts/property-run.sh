#!/usr/bin/env bash
# Long property run of the round trip: inputs FIRST to FIRST+RUNS-1 of SEED,
# shared out in equal ranges between JOBS processes, each at the lowest CPU
# priority. Input i depends on SEED and i alone, so a run that was cut short
# goes on from where its logs stop.
#
#   scripts/property-run.sh RUNS SEED [JOBS] [FIRST]
#
# Environment: KVT_FUZZ_BUILD_DIR (default build/fuzz). Logs and findings go to
# <build>/fuzz/property/SEED-FIRST/.
set -euo pipefail
cd "$(dirname "$0")/.."

[ $# -ge 2 ] || { echo "usage: $0 RUNS SEED [JOBS] [FIRST]" >&2; exit 2; }
runs=$1 seed=$2 jobs=${3:-1} first=${4:-0}
build=${KVT_FUZZ_BUILD_DIR:-build/fuzz}

scripts/deps.sh --fuzz
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target property_round_trip
runner=$(cd "$build/fuzz" && pwd)/property_round_trip
dir="$build/fuzz/property/$seed-$first"
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

# The simulated SP rewrites its files through renames: as root, each process
# gets a tmpfs of its own in a private mount namespace for its SP root.
run_range() {
  local from=$1 count=$2
  cd "$dir"
  if [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
    local tmp
    tmp=$(mktemp -d "$dir/tmp.XXXXXX")
    unshare --mount sh -c 'mount -t tmpfs -o size=512m tmpfs "$0" && TMPDIR="$0" exec "$@"' \
      "$tmp" nice -n 19 "$runner" "$count" "$seed" "$from"
    rmdir "$tmp"
  else
    nice -n 19 "$runner" "$count" "$seed" "$from"
  fi
}

share=$(((runs + jobs - 1) / jobs))
started=$SECONDS
status=0
for ((job = 0; job < jobs; job++)); do
  from=$((first + job * share))
  count=$((runs - job * share < share ? runs - job * share : share))
  [ "$count" -gt 0 ] || break
  run_range "$from" "$count" >"$dir/range-$from.log" 2>&1 &
done
for pid in $(jobs -p); do wait "$pid" || status=1; done
cat "$dir"/range-*.log | grep -v '^property: [0-9]* inputs$' || true
echo "property_round_trip: $runs inputs of seed $seed from $first in $((SECONDS - started))s by $jobs process(es)"
exit $status
