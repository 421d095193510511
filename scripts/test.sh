#!/usr/bin/env bash
# Builds and runs every test: the debug build, the ASan+UBSan build, the
# Debian package's contents, and a brief run of each fuzz target (clang,
# libFuzzer).
# Longer runs have their own scripts: test-tsan.sh (ThreadSanitizer, the
# end-to-end tests), test-ppc.sh (big-endian PowerPC under qemu),
# fuzz-long.sh, bench.sh.
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

echo "== Debian package"
scripts/package.sh build/debug

scripts/test-fuzz.sh
