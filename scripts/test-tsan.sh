#!/usr/bin/env bash
# Builds kvtd, the simulated SP's programs and the end-to-end tests with
# ThreadSanitizer and runs those tests ("tsan" presets). The daemons that
# the tests start write their race reports to build/tsan-reports/ (their
# standard error vanishes with the test's SP root), so any file there fails
# the run. KVT_BUILD_DIR builds somewhere other than the preset's build/tsan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

build_dir="${KVT_BUILD_DIR:-build/tsan}"
reports=build/tsan-reports

cmake --preset tsan -B "$build_dir" >/dev/null
targets=(kvtd kvtsim kvtsim-em)
for test in tests/e2e/*_test.cpp; do
  targets+=("$(basename "$test" .cpp)")
done
cmake --build "$build_dir" --target "${targets[@]}"

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
