#!/usr/bin/env bash
# Builds everything with ThreadSanitizer ("tsan" presets) and runs the unit
# and end-to-end tests. The daemons that the end-to-end tests start write
# their race reports to build/tsan-reports/ (their standard error vanishes
# with the test's SP root), so any file there fails the run.
# KVT_BUILD_DIR builds somewhere other than the preset's build/tsan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

build_dir="${KVT_BUILD_DIR:-build/tsan}"
reports=build/tsan-reports

echo "== tsan build ($build_dir)"
cmake --preset tsan -B "$build_dir" >/dev/null
cmake --build "$build_dir"

echo "== tsan tests"
rm -rf "$reports"
mkdir -p "$reports"
status=0
ctest --preset tsan --test-dir "$build_dir" || status=$?
if compgen -G "$reports/report*" >/dev/null; then
  echo "== ThreadSanitizer reports"
  cat "$reports"/report*
  status=1
fi
exit "$status"
