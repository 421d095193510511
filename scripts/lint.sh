#!/usr/bin/env bash
# The format and lint gates: every include pointing down the daemon's
# layers (scripts/check-layers.py, also shown to catch a planted back
# include), every C++ file as .clang-format lays it out, and no clang-tidy
# finding (.clang-tidy, with tests/.clang-tidy and
# fuzz/.clang-tidy for those trees). Needs a configured build for the
# compile commands: $1, default build/debug.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --lint
build=${1:-build/debug}
[ -f "$build/compile_commands.json" ] || { echo "lint: no $build/compile_commands.json" >&2; exit 2; }

echo "== layers"
scripts/check-layers.py
planted=$(mktemp -d)
trap 'rm -rf "$planted"' EXIT
mkdir "$planted/card" && echo '#include "base/log.hpp"' >"$planted/card/planted.cpp"
if scripts/check-layers.py "$planted" >/dev/null 2>&1; then
  echo "layers: the check let a planted back include through" >&2
  exit 1
fi

echo "== clang-format"
git ls-files '*.cpp' '*.hpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== clang-tidy"
# -Wno-unknown-warning-option: clang does not know GCC's -Wno-restrict.
# clang-tidy counts the compiler warnings it was told to hide; those counts
# are left out, its findings are not.
git ls-files '*.cpp' | xargs -P "$(nproc)" -n 8 \
  clang-tidy -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option \
  2> >(grep -v ' warnings\? generated\.$' >&2)
echo "lint: no findings"
