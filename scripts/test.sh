#!/usr/bin/env bash
# Builds and runs every test: the debug build, then the ASan+UBSan build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

for preset in debug asan; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset tests"
  ctest --preset "$preset"
done
