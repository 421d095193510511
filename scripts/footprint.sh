#!/bin/sh
# Footprint of a release kvtd on the simulated SP: stripped size, RSS and
# PSS after start-up and after EVENTS audit events, threads, and wake-ups
# per minute while idle (time scale 1: the monitor's real 10 s period).
# Usage: scripts/footprint.sh [EVENTS [IDLE_SECONDS]]
#   (build dir: $KVT_BUILD_DIR, default build/release)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KVT_BUILD_DIR:-$top/build/release}
events=${1:-100000}
idle=${2:-60}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKVT_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target kvtd kvtsim kvtsim-em kvtd_audit_flood >/dev/null

KVT_SP_ROOT=$(mktemp -d /tmp/kvt-footprint-XXXXXX)
export KVT_SP_ROOT
KVT_SIM_TIME_SCALE=1
export KVT_SIM_TIME_SCALE
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    "$build/kvtsim" em stop >/dev/null 2>&1 || true
    rm -rf "$KVT_SP_ROOT"
}
trap cleanup EXIT INT TERM

log=$KVT_SP_ROOT/var/log/kvtd.log
wait_log() { # TEXT SECONDS
    n=0
    while ! grep -qF -- "$1" "$log" 2>/dev/null; do
        n=$((n + 1))
        [ "$n" -gt $(($2 * 10)) ] && { echo "footprint: no \"$1\" in the log" >&2; exit 1; }
        sleep 0.1
    done
}
kib() { awk -v k="$1" '$1 == k":" { print $2 }' "/proc/$pid/smaps_rollup"; }
memory() { echo "$1: RSS $(kib Rss) KiB, PSS $(kib Pss) KiB, threads $(awk '/^Threads:/ { print $2 }' "/proc/$pid/status")"; }
switches() { cat /proc/"$pid"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
per_thread() {
    for t in /proc/"$pid"/task/*; do
        awk -v t="${t##*/}" '/ctxt_switches/ { n += $2 } END { printf "%s=%d ", t, n }' "$t/status"
    done
}

stripped=$(mktemp)
strip -o "$stripped" "$build/kvtd"
echo "kvtd binary: $(stat -c %s "$build/kvtd") bytes, stripped $(stat -c %s "$stripped") bytes"
rm -f "$stripped"

"$build/kvtsim" init >/dev/null
"$build/kvtsim" em start >/dev/null
# In the foreground (no -b), so that $! is the daemon itself.
"$build/kvtd" >/dev/null 2>&1 &
pid=$!
wait_log "initialization complete" 60
# The event thread's PCM subscription comes right after start-up.
sleep 1
memory "after start-up"

before=$(switches)
threads_before=$(per_thread)
sleep "$idle"
after=$(switches)
echo "context switches per thread (tid=count) before: $threads_before"
echo "                                      after:  $(per_thread)"
echo "idle: $((after - before)) context switches in ${idle} s, $(((after - before) * 60 / idle)) wake-ups per minute (all threads, voluntary + nonvoluntary)"

start=$(date +%s)
"$build/kvtd_audit_flood" "$events" /X/clients/smtp/port 25 2525 4242
wait_log "val: 4242" 3600
echo "$events audit events posted and handled in $(($(date +%s) - start)) s"
memory "after $events audit events"
