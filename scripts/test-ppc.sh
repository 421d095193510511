#!/usr/bin/env bash
# Builds for big-endian 32-bit PowerPC and runs the unit tests under
# qemu-user: the card image, the audit records and the persisted-variable
# table must read the same there. The end-to-end tests are left out: they
# run kvtd as a separate program, which needs binfmt for the emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --ppc

echo "== ppc build"
cmake --preset ppc >/dev/null
cmake --build --preset ppc
echo "== ppc unit tests (qemu-ppc)"
ctest --preset ppc
