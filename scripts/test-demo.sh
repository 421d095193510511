#!/usr/bin/env bash
# Runs scripts/demo.sh, the README's first command, on a fresh simulated SP
# in a temporary directory and checks that it ends with status 0, shows
# every step it promises, and prints no error line.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
output=$work/demo.out
status=0
KVT_SP_ROOT=$work/sp scripts/demo.sh >"$output" 2>&1 || status=$?

fail=0
expect() { # a line the demo must show
  grep -qF -- "$1" "$output" || { echo "demo: no line with: $1"; fail=1; }
}
expect "== A fresh simulated SP in $work/sp, with a blank card"
expect "startup decision: capture (card blank (erased))"
expect "kvtd_process_obj_update: name /X/clients/smtp/port val: 2525"
expect "mail_port: 2525"
expect "action: restore"
expect "- object: /X/clients/smtp/port, current: 587, card: 2525, changes: yes"
expect "startup decision: restore (card valid, card MAC differs from SP MAC)"
expect "restore summary: misc settings applied"
expect "SMTP port after the restore: 2525"
expect "- event: 64, name: KVT_REMOVED"
expect "clear 64 KVT_REMOVED"
expect "faults: (none)"
expect "startup decision: nothing to do (card valid, MAC matches, not moved)"
expect "current: hall C, rack 4, card: hall C, rack 4,"
expect "daemon execution complete, rc=0."
# The pulled card's status says "I2C read failed": that is the step's point.
if grep -nEiw 'error|errors|failed|timed out|warning|no such|cannot|refused|denied|killed' "$output" |
   grep -v 'meaning: I2C read failed$'; then
  echo "demo: the lines above look like errors"
  fail=1
fi
if [ "$status" -ne 0 ] || [ "$fail" -ne 0 ]; then
  echo "demo: exit status $status; its output:"
  cat "$output"
  exit 1
fi
echo "demo: every step shown, no error line"
