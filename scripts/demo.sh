#!/usr/bin/env bash
# Builds kvtd and shows its three jobs on a fresh simulated SP:
#   1. first start on a blank card: capture
#   2. a live change reaching the card
#   3. a card of another SP: restore
#   4. a card pulled and put back: fault and all-clear, as kvtcard status sees it
#   5. troubleshooting: a change made while kvtd was stopped, found and put on the card
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

# One compile job per core, and no more than the memory holds (about
# 1 GiB each at -O3); KVT_JOBS overrides.
jobs=${KVT_JOBS:-$(awk -v cores="$(nproc)" '/^MemAvailable:/ {
  n = int($2 / 1048576); if (n > cores) n = cores; if (n < 1) n = 1; print n }' /proc/meminfo)}
build_log=$(mktemp)
echo "building (release, $jobs jobs)..."
if ! { cmake --preset release && cmake --build --preset release -j "$jobs" \
         --target kvtd kvtsim kvtsim-em kvtcard; } >"$build_log" 2>&1; then
  cat "$build_log" >&2
  rm -f "$build_log"
  echo "demo: the build failed (above)" >&2
  exit 1
fi
rm -f "$build_log"

bin=$PWD/build/release
export KVT_SP_ROOT=${KVT_SP_ROOT:-$PWD/demo-sp}
export KVT_SIM_TIME_SCALE=${KVT_SIM_TIME_SCALE:-0.05}   # 10 s of daemon time in 0.5 s
log=$KVT_SP_ROOT/var/log/kvtd.log
sim() { "$bin/kvtsim" "$@"; }

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
wait_for() { # wait_for FILE TEXT [LINE]: until the text shows up from LINE on (at most 30 s)
  for _ in $(seq 300); do
    tail -n +"${3:-1}" "$1" 2>/dev/null | grep -qF -- "$2" && return 0
    sleep 0.1
  done
  echo "timed out waiting for: $2" >&2; return 1
}
mark=0
new_lines() { # show only what follows
  if [ -f "$log" ]; then mark=$(wc -l <"$log"); else mark=0; fi
}
show_log() { tail -n +"$((mark + 1))" "$log" | { grep -E "$1" || true; } | sed 's/^/    /'; }
status_file=$KVT_SP_ROOT/run/kvtd/status
start_daemon() { # kvtd -b, then until it takes live changes over the event manager
  "$bin/kvtd" -b
  wait_for "$status_file" "event manager: connected"
}
daemon_pid() { # the running daemon of this root, from the frame log
  local pid
  pid=$(grep -o 'daemon - running on PID [0-9]*' "$KVT_SP_ROOT/var/log/kvtd.frame.log" 2>/dev/null |
        tail -n 1 | grep -o '[0-9]*$') || return 1
  [ -n "$pid" ] && [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = kvtd ] && echo "$pid"
}
stop_daemon() {
  local pid
  pid=$(daemon_pid) || return 0
  kill -TERM "$pid"
  for _ in $(seq 100); do [ -d /proc/"$pid" ] || break; sleep 0.1; done
}
trap 'stop_daemon; sim em stop >/dev/null 2>&1 || true' EXIT

step "A fresh simulated SP in $KVT_SP_ROOT, with a blank card"
stop_daemon
sim init "$KVT_SP_ROOT"
sim em start

step "First start: the card is blank, so kvtd captures the SP onto it"
new_lines
start_daemon
show_log 'startup decision|KVT sp configuration|wrote KVT|initialization complete'

step "Live change: an administrator sets the SMTP port to 2525"
new_lines
sim set /X/clients/smtp/port 2525
wait_for "$status_file" "last write: section 7 (console)"
show_log 'Luapi cmd|path <|kvtd_process_obj_update'
echo "    on the card now:"
"$bin/kvtcard" show --sim | grep -iE 'mail|cksum7|section 7' | sed 's/^/    /'

step "Card swap: the card of another SP goes in while kvtd is stopped"
stop_daemon
sim card foreign 00:14:4f:aa:bb:cc      # that card holds SMTP port 2525
sim set /X/clients/smtp/port 587        # this SP has moved on meanwhile
echo "    what the card would do here (kvtcard preview):"
"$bin/kvtcard" preview --sim | grep -iE 'action:|- card|smtp/port' | sed 's/^/      /'
new_lines
start_daemon
show_log 'startup decision|restoring|restore complete|restore summary'
echo "    SMTP port after the restore: $(sim get /X/clients/smtp/port)"

step "The card is pulled, then put back before the wait runs out"
: >"$KVT_SP_ROOT/sim/faultlog"
sim card pull
wait_for "$KVT_SP_ROOT/sim/faultlog" "event 65"
wait_for "$status_file" "fault: 64 KVT_REMOVED"
echo "    what kvtd has found meanwhile (kvtcard status):"
"$bin/kvtcard" status | sed -n '/^card_check:/,/^faults:/p;/^  - event/p' | sed 's/^/      /'
sim card insert
wait_for "$KVT_SP_ROOT/sim/faultlog" "clear 64"
wait_for "$status_file" "faults: 0"
sim faultlog | sed 's/^/    /'
echo "    and once the card is back:"
"$bin/kvtcard" status | sed -n -e 's/^ *//' -e '/^consecutive_failures/p' -e '/^faults/p' |
  sed 's/^/      /'

step "Troubleshooting: a change made while kvtd was stopped is not on the card"
stop_daemon
sim set /X/system_identifier "hall C, rack 4"
new_lines
start_daemon
show_log 'startup decision'
echo "    kvtcard preview shows the drift (what the card still holds):"
"$bin/kvtcard" preview | grep -A1 'system_identifier' | sed 's/^/      /'
echo "    setting the value again while kvtd runs puts it on the card:"
sim set /X/system_identifier "hall C, rack 4"
wait_for "$KVT_SP_ROOT/run/kvtd/status" "last write: section 6"
"$bin/kvtcard" preview | grep -A1 'system_identifier' | sed 's/^/      /'

step "SIGTERM ends the daemon in order"
stop_daemon
grep -F "daemon execution complete" "$KVT_SP_ROOT/var/log/kvtd.frame.log" | tail -n 1 | sed 's/^/    /'
echo
echo "Logs: $log, $KVT_SP_ROOT/var/log/kvtd.frame.log; fault log: $KVT_SP_ROOT/sim/faultlog"
echo "Status: $KVT_SP_ROOT/run/kvtd/status (kvtcard status); troubleshooting: docs/operator-guide.md"
