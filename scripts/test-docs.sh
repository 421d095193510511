#!/usr/bin/env bash
# Runs every shell transcript of README.md and of the operator guide, the
# inspector's, the simulated SP's and the porting guide's docs on fresh
# simulated SPs, with the release build's tools, and fails when any output
# differs from the one the doc shows (docs/testing.md says how to write one).
#   scripts/test-docs.sh [--update] [DOC.md...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

cmake --preset release >/dev/null
cmake --build --preset release --target kvtd kvtsim kvtsim-em kvtcard kvtd-preview
exec python3 scripts/test-docs.py --build build/release "$@"
