#!/bin/sh
# Checks the confinement of packaging/kvtd.service, alone and with each
# card drop-in of packaging/ (card-*.conf) applied:
#  - "systemd-analyze security --offline=true" rates its exposure at 2.0 or
#    below;
#  - the sandbox lets kvtd at every fixed path it uses: each path of the
#    daemon's code under /etc, /var, /run, /dev/shm or /coredump lies under
#    ReadWritePaths=, StateDirectory= or RuntimeDirectory= (or is a
#    directory above one); /var/tmp is the host's, shared with the
#    platform's KVT-data file and every kvtd's lock (no PrivateTmp=);
#    ProtectSystem=strict makes everything else read-only;
#  - devices: /dev/console for writing, and for the card exactly what its
#    KVT_CARD_DEVICE names: /dev/i2c-N by DeviceAllow=, or the at24 file by
#    ReadWritePaths= with no I2C bus at all.
# Installs systemd when run as root without it; otherwise says it skipped.
set -eu
cd "$(dirname "$0")/.."
unit=packaging/kvtd.service
limit=2.0
fail=0

if ! command -v systemd-analyze >/dev/null 2>&1 && [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq systemd >/dev/null
fi
if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "== unit check SKIPPED: systemd-analyze is not installed (apt-get install systemd)"
    exit 0
fi

# The values of setting $1 in the files given, in order: an empty
# assignment drops what came before, as systemd reads drop-ins.
values() {
    key=$1
    shift
    awk -v key="$key" -F= '
        $1 == key { v = substr($0, length(key) + 2); if (v == "") n = 0; else list[n++] = v }
        END { for (i = 0; i < n; i++) print list[i] }' "$@"
}

# Scores the unit with drop-in $1 (or none) under a scratch root.
score() {
    root=$(mktemp -d)
    mkdir -p "$root/etc/systemd/system/kvtd.service.d"
    cp "$unit" "$root/etc/systemd/system/"
    [ -z "$1" ] || cp "$1" "$root/etc/systemd/system/kvtd.service.d/card.conf"
    report=$(systemd-analyze security --offline=true --root="$root" kvtd.service 2>&1) || true
    rm -rf "$root"
    s=$(printf '%s\n' "$report" | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    if [ -z "$s" ]; then
        printf '%s\n' "$report"
        echo "== unit check: no exposure level for $unit ${1:+with $1}"
        return 1
    fi
    if awk -v s="$s" -v l="$limit" 'BEGIN { exit !(s > l) }'; then
        printf '%s\n' "$report" | grep '✗' || true
        echo "== unit check: $unit ${1:+with $1 }exposure $s is above $limit"
        return 1
    fi
    echo "== unit check: $unit ${1:+with $1 }exposure $s (at most $limit)"
}

# True when path $1 is writable under the writable roots on standard input,
# or is a directory above one of them.
covered() {
    while read -r root; do
        case "$1/" in "$root"/*) return 0 ;; esac
        case "$root/" in "$1"/*) return 0 ;; esac
    done
    return 1
}

# The sandbox of the unit with drop-in $1 (or none) against kvtd's paths.
check_sandbox() {
    files="$unit${1:+ $1}"
    # shellcheck disable=SC2086
    writable=$( {
        values ReadWritePaths $files | tr ' ' '\n' | sed 's/^-//'
        values StateDirectory $files | sed 's|^|/var/lib/|'
        values RuntimeDirectory $files | sed 's|^|/run/|'
    } | grep . )
    # shellcheck disable=SC2086
    [ "$(values ProtectSystem $files)" = strict ] || { echo "$files: not ProtectSystem=strict"; fail=1; }
    # shellcheck disable=SC2086
    case "$(values PrivateTmp $files)" in yes | true | on | 1)
        echo "$files: PrivateTmp= hides the platform's /var/tmp/KVT-data and the shared lock"
        fail=1 ;;
    esac
    for path in $(grep -rhoE '"/(etc|var|run|dev/shm|coredump)[^"]*"' frame service sections |
                  tr -d '"' | sort -u); do
        printf '%s\n' "$writable" | covered "$path" || {
            echo "$files: kvtd uses $path, which the sandbox keeps read-only"
            fail=1
        }
    done
    # shellcheck disable=SC2086
    devices=$(values DeviceAllow $files | sort | tr '\n' ' ')
    # shellcheck disable=SC2086
    card=$(values Environment $files | tr ' ' '\n' | sed -n 's/^KVT_CARD_DEVICE=//p' | tail -n 1)
    case "${card:-i2c:/dev/i2c-0@0x53}" in
    at24:*)
        want="/dev/console w "
        file=${card#at24:}
        printf '%s\n' "$writable" | grep -qx "$file" ||
            { echo "$files: the card's file $file is not writable"; fail=1; } ;;
    *)
        bus=${card:-i2c:/dev/i2c-0@0x53}
        bus=${bus#i2c:}
        want=$(printf '%s\n' "/dev/console w" "${bus%@*} rw" | sort | tr '\n' ' ') ;;
    esac
    [ "$devices" = "$want" ] ||
        { echo "$files: devices allowed '$devices', the card needs exactly '$want'"; fail=1; }
}

score "" || fail=1
check_sandbox ""
for dropin in packaging/card-*.conf; do
    score "$dropin" || fail=1
    check_sandbox "$dropin"
done
[ "$fail" -eq 0 ] || exit 1
echo "== unit check: the sandbox gives kvtd its paths and its card, and nothing more"
