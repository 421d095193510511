#!/usr/bin/env bash
# Builds and runs every test: the format and lint gates, the debug build,
# the release build (as the README's commands build it, warnings as
# errors) with the demo and every documented example run on it, the
# ASan+UBSan build, the ThreadSanitizer build, the unit tests on big-endian
# PowerPC under qemu, the card library under a real Linux kernel's I2C
# drivers (a QEMU board), the Debian package's contents, the systemd unit's
# confinement (where systemd-analyze exists), and a brief run of each fuzz
# target (clang, libFuzzer).
# Longer runs have their own scripts: fuzz-long.sh, bench.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

for preset in debug release asan; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  [ "$preset" = debug ] && scripts/lint.sh build/debug
  if [ "$preset" = release ]; then
    echo "== the demo (scripts/demo.sh)"
    scripts/test-demo.sh
    echo "== the documented examples"
    scripts/test-docs.sh
    continue
  fi
  echo "== $preset tests"
  ctest --preset "$preset"
done

scripts/test-tsan.sh
scripts/test-ppc.sh
scripts/test-kernel-i2c.sh

echo "== Debian package"
scripts/package.sh build/debug
scripts/check-unit.sh

scripts/test-fuzz.sh
