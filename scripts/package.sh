#!/bin/sh
# Builds the Debian package of a build directory with cpack and checks it:
# the files and modes that dpkg would install, and the control fields.
#   scripts/package.sh [BUILD_DIR]      (default: build/debug)
# Leaves the .deb in BUILD_DIR. Needs dpkg-deb and dpkg-shlibdeps.
set -eu
build=${1:-build/debug}
cmake --build "$build"
rm -f "$build"/kvtd_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/kvtd_*.deb)

listing=$(dpkg-deb -c "$deb")
fail=0
expect() { # mode path
    if ! printf '%s\n' "$listing" | grep -q "^$1 root/root .* \./$2\$"; then
        echo "$deb: missing $1 ./$2"
        fail=1
    fi
}
expect -rwxr-xr-x usr/sbin/kvtd
expect -rwxr-xr-x usr/bin/kvtsim
expect -rwxr-xr-x usr/bin/kvtsim-em
if [ -x "$build/kvtcard" ]; then
    expect -rwxr-xr-x usr/bin/kvtcard
fi
expect -rw-r--r-- usr/share/man/man8/kvtd.8
expect -rw-r--r-- usr/share/man/man1/kvtsim.1
expect -rw-r--r-- usr/share/man/man1/kvtcard.1
expect -rw-r--r-- usr/share/doc/kvtd/operator-guide.md
expect -rw-r--r-- usr/lib/systemd/system/kvtd.service

for field in Package Version Architecture Maintainer Description; do
    if [ -z "$(dpkg-deb -f "$deb" "$field")" ]; then
        echo "$deb: no $field field"
        fail=1
    fi
done
[ "$(dpkg-deb -f "$deb" Package)" = kvtd ] || { echo "$deb: package is not named kvtd"; fail=1; }

if [ "$fail" -ne 0 ]; then
    printf '%s\n' "$listing"
    exit 1
fi
echo "$deb ok: $(dpkg-deb -f "$deb" Depends)"
