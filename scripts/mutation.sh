#!/bin/sh
# Mutation testing of the daemon and the card library; see scripts/mutation.py.
#   scripts/mutation.sh run --count 160 --seed 2026 --out docs/mutation/before.jsonl
#   scripts/mutation.sh report docs/mutation/*.jsonl
exec python3 "$(dirname "$0")/mutation.py" "$@"
