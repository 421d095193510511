#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each briefly
# under CTest: its seed corpus, then five seconds of mutation.
#   KVT_FUZZ_BUILD_DIR overrides the fuzz preset's build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --fuzz

build=${KVT_FUZZ_BUILD_DIR:-build/fuzz}
echo "== fuzz build ($build)"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target kvt_fuzz_targets
echo "== fuzz tests"
if [ "$build" = build/fuzz ]; then
  ctest --preset fuzz
else
  ctest --test-dir "$build" --output-on-failure -j 2 --no-tests=error
fi
