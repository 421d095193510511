#!/bin/sh
# Installs a build into a temporary DESTDIR with the package's prefix (/usr)
# and checks that exactly the expected files land there with the modes they
# need, that the unit starts a file that was installed, and that the man
# pages format without warnings. Run by ctest as "install_layout".
#   install-check.sh CMAKE_COMMAND BUILD_DIR [EXTRA_FILE...]
# An extra file is a path below /usr (bin/kvtcard, lib/kvtd/lib...a):
# programs under bin/ and sbin/ must be 755, everything else 644.
set -eu
cmake_command=$1
build=$2
shift 2

dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest "$cmake_command" --install "$build" --prefix /usr >/dev/null

expected="usr/sbin/kvtd 755
usr/share/man/man8/kvtd.8 644
usr/share/doc/kvtd/operator-guide.md 644
usr/lib/systemd/system/kvtd.service 644"
for file in "$@"; do
    case $file in
        bin/* | sbin/*) mode=755 ;;
        *) mode=644 ;;
    esac
    expected="$expected
usr/$file $mode"
done

actual=$(cd "$dest" && find . -type f -printf '%P %m\n' | sort)
expected=$(printf '%s\n' "$expected" | sort)
if [ "$actual" != "$expected" ]; then
    echo "installed files differ from the expected layout (- expected, + installed):"
    printf '%s\n' "$expected" >"$dest.expected"
    printf '%s\n' "$actual" | diff -u "$dest.expected" - || true
    rm -f "$dest.expected"
    exit 1
fi

# systemd runs what the unit names: it must be the installed daemon.
exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$dest/usr/lib/systemd/system/kvtd.service")
if [ ! -x "$dest$exec_start" ]; then
    echo "kvtd.service starts $exec_start, which was not installed"
    exit 1
fi

if command -v groff >/dev/null; then
    for page in "$dest"/usr/share/man/man*/*; do
        warnings=$(groff -man -ww -z "$page" 2>&1)
        if [ -n "$warnings" ]; then
            echo "$page: $warnings"
            exit 1
        fi
    done
fi
echo "install layout ok"
