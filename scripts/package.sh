#!/bin/sh
# Builds the Debian packages of a build directory with cpack and checks
# them: the files and modes that dpkg would install, and the control
# fields. Then proves the switch of the SP services: kvtd is built again,
# without the simulator, against the simulated services taken from their
# own package as a vendor's library would be (scripts/standin-build.sh).
#   scripts/package.sh [BUILD_DIR]      (default: build/debug)
# Leaves the .deb files in BUILD_DIR. Needs dpkg-deb and dpkg-shlibdeps.
set -eu
build=${1:-build/debug}
cmake --build "$build"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)

fail=0
check() { # package, then "mode path" lines it must hold, and nothing else
    package=$1
    shift
    deb=$(ls "$build"/"${package}"_*.deb 2>/dev/null || true)
    if [ -z "$deb" ]; then
        echo "no package $package in $build"
        fail=1
        return
    fi
    listing=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $6}' | sort)
    expected=$(for entry in "$@"; do echo "$entry"; done | sort)
    if [ "$listing" != "$expected" ]; then
        echo "$deb holds (- expected, + held):"
        printf '%s\n' "$expected" >"$build/expected.list"
        printf '%s\n' "$listing" | diff -u "$build/expected.list" - || true
        rm -f "$build/expected.list"
        fail=1
    fi
    for field in Package Version Architecture Maintainer Description; do
        if [ -z "$(dpkg-deb -f "$deb" "$field")" ]; then
            echo "$deb: no $field field"
            fail=1
        fi
    done
    [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || { echo "$deb: not named $package"; fail=1; }
    echo "$deb: $(dpkg-deb -f "$deb" Depends)"
}

check kvtd "-rwxr-xr-x ./usr/sbin/kvtd" "-rwxr-xr-x ./usr/bin/kvtd-preview" \
    "-rw-r--r-- ./usr/share/man/man8/kvtd.8" \
    "-rw-r--r-- ./usr/share/doc/kvtd/operator-guide.md" \
    "-rw-r--r-- ./usr/lib/systemd/system/kvtd.service"
check kvtcard "-rwxr-xr-x ./usr/bin/kvtcard" "-rw-r--r-- ./usr/share/man/man1/kvtcard.1"
check kvtsim "-rwxr-xr-x ./usr/bin/kvtsim" "-rwxr-xr-x ./usr/bin/kvtsim-em" \
    "-rw-r--r-- ./usr/share/man/man1/kvtsim.1"
check kvtsim-services "-rw-r--r-- ./usr/lib/kvtd/libkvtsim_platform.a"

# kvtcard carries no simulator code.
if nm -C "$build/kvtcard" | grep -q 'kvtsim::'; then
    echo "$build/kvtcard holds simulator code"
    fail=1
fi
[ "$fail" -eq 0 ] || exit 1

"$(dirname "$0")/standin-build.sh" "$build"/kvtsim-services_*.deb
