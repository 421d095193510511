#!/bin/sh
# Proves the CMake switch KVT_SP_SERVICES: without the simulator and
# without a services library, configure stops with a clear message. Then
# builds kvtd and kvtcard without
# the simulator (KVT_SIMULATOR=OFF), linking kvtd against the simulated SP's
# services as a vendor's library would be: the static library unpacked from
# its own package. Then starts that kvtd on a fresh simulated SP, run by
# the tools of the main build, and checks its start-up decision.
#   scripts/standin-build.sh KVTSIM_SERVICES_DEB [MAIN_BUILD_DIR]
# Builds in build/standin.
set -eu
deb=$1
main=${2:-$(dirname "$deb")}
cd "$(dirname "$0")/.."
build=build/standin
stage=$(mktemp -d)
root=$(mktemp -d)
trap 'KVT_SP_ROOT=$root "$main/kvtsim" em stop >/dev/null 2>&1 || true; rm -rf "$stage" "$root"' EXIT

# Without a services library the switch stops at configure, saying why.
if out=$(cmake -S . -B "$stage/no-services" -G Ninja -DKVT_SIMULATOR=OFF -DKVT_TESTS=OFF \
        -DKVT_BENCH=OFF 2>&1); then
    echo "KVT_SIMULATOR=OFF without KVT_SP_SERVICES configured"
    exit 1
fi
case "$out" in
*"KVT_SIMULATOR=OFF builds no simulated SP services"*) ;;
*) printf '%s\n' "$out"; echo "KVT_SIMULATOR=OFF without KVT_SP_SERVICES: no clear message"; exit 1 ;;
esac

dpkg-deb -x "$deb" "$stage"
library=$(ls "$stage"/usr/lib/kvtd/libkvtsim_platform.a)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKVT_WERROR=ON \
    -DKVT_SIMULATOR=OFF -DKVT_TESTS=OFF -DKVT_BENCH=OFF -DKVT_SP_SERVICES="$library" >/dev/null
cmake --build "$build" --target kvtd kvtcard
if [ -d "$build/sim" ] || [ -e "$build/kvtsim" ]; then
    echo "$build: the simulator was built"
    exit 1
fi

# The stand-in kvtd on a simulated SP: start-up captures onto the blank card.
export KVT_SP_ROOT=$root KVT_SIM_TIME_SCALE=0.01
"$main/kvtsim" init >/dev/null
"$main/kvtsim" em start >/dev/null
"$build/kvtd" -b
pid=
for _ in $(seq 100); do # the daemon names its PID once it has forked
    pid=$(grep -o 'running on PID [0-9]*' "$root/var/log/kvtd.frame.log" 2>/dev/null |
          tail -n 1 | grep -o '[0-9]*$') && break
    sleep 0.1
done
[ -n "$pid" ] || { echo "the stand-in kvtd named no PID"; exit 1; }
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
grep -q 'startup decision: capture (card blank (erased))' "$root/var/log/kvtd.log" || {
    echo "the stand-in kvtd did not capture onto the blank card:"
    cat "$root/var/log/kvtd.log"
    exit 1
}
echo "kvtd built against $(basename "$deb") and ran on the simulated SP"
