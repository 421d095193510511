#!/usr/bin/env bash
# The card library under a real Linux kernel: boots Debian's armhf kernel
# under QEMU on its model of the ASPEED AST2600 evaluation board (a BMC,
# the kind of SoC an SP is made of), whose I2C controllers the kernel's
# i2c-aspeed driver runs as plain I2C adapters, with two of QEMU's own
# EEPROMs (at24c-eeprom, 8 KiB, 16-bit addresses) on its buses: card A at
# 0x53 on bus 1, card B at 0x50 on bus 2. In the guest, against the
# kernel's i2c-dev and at24 drivers (scripts/kernel-i2c-guest.sh): the
# conformance suite of the card's EEPROM backends, kvtcard's slot commands
# through both backends, and kvtd's start-up, a live change and the card
# monitor with the simulated SP's other services, on both cards.
#
# Everything comes from Debian 12: qemu-system-arm, a cross compiler
# (kvtd, kvtcard, kvtsim and the suite are built static for armhf), and
# the armhf packages of the kernel (linux-image-armmp) and busybox-static,
# fetched with a private apt state and kept in apt's cache. What it builds
# (the programs, the initramfs, the patched device tree) is under
# build/kernel-i2c. As root it installs what is missing; without root and
# packages it says so on one line and does nothing else.
#   scripts/test-kernel-i2c.sh
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
work=$top/build/kernel-i2c
guest_timeout=480
mkdir -p "$work"

skip() {
    echo "== kernel I2C test SKIPPED (not run, not passed): $*"
    exit 0
}

as_root() { [ "$(id -u)" -eq 0 ]; }

# apt-get install, waiting while another installer holds the dpkg lock.
install() {
    for _ in $(seq 60); do
        if DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >"$work/apt.log" 2>&1; then
            return 0
        fi
        grep -q -i "lock" "$work/apt.log" || { cat "$work/apt.log"; return 1; }
        sleep 5
    done
    cat "$work/apt.log"
    return 1
}

host_packages=(qemu-system-arm g++-arm-linux-gnueabihf cpio device-tree-compiler libgtest-dev
               cmake ninja-build)
missing=()
for p in "${host_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    as_root || skip "missing ${missing[*]} (as root this script installs them)"
    echo "installing: ${missing[*]}"
    apt-get update -qq || echo "apt-get update failed for some indexes; installing from the rest"
    install "${missing[@]}"
fi

# The guest's armhf packages, through apt's own client with a private state
# that knows armhf alone; the .deb files stay in apt's cache.
debs=/var/cache/apt/archives
as_root || debs=$work/debs
mkdir -p "$debs" "$work/apt/lists/partial" "$work/apt/cache"
: >"$work/apt/status"
apt_armhf=(-o APT::Architecture=armhf -o APT::Architectures=armhf
           -o "Dir::State::Lists=$work/apt/lists" -o "Dir::State::status=$work/apt/status"
           -o "Dir::Cache=$work/apt/cache")
newest() { ls -1 "$debs"/$1 2>/dev/null | sort -V | tail -n 1 || true; }
kernel_deb=$(newest 'linux-image-6.*-armmp_*_armhf.deb')
busybox_deb=$(newest 'busybox-static_*_armhf.deb')
if [ -z "$kernel_deb" ] || [ -z "$busybox_deb" ]; then
    echo "fetching the guest's kernel and busybox (armhf)"
    # A mirror caught in a sync serves an index of the wrong size for a
    # while: try again, then go on with the indexes that did come.
    for attempt in 1 2 3; do
        apt-get -qq "${apt_armhf[@]}" update >"$work/apt.log" 2>&1 && break
        cat "$work/apt.log"
        [ "$attempt" -lt 3 ] && sleep 20
    done
    kernel=$(apt-cache "${apt_armhf[@]}" depends linux-image-armmp 2>/dev/null |
             sed -n 's/^ *Depends: \(linux-image-6[^ ]*-armmp\)$/\1/p' | head -n 1 || true)
    [ -n "$kernel" ] || { as_root && exit 1; skip "cannot reach Debian's armhf packages"; }
    (cd "$debs" && apt-get -qq "${apt_armhf[@]}" download "$kernel" busybox-static) \
        >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
    kernel_deb=$(newest 'linux-image-6.*-armmp_*_armhf.deb')
    busybox_deb=$(newest 'busybox-static_*_armhf.deb')
fi

# Kernel, device tree, the three modules and busybox, unpacked once per
# package version.
guest=$work/guest
stamp="$(basename "$kernel_deb") $(basename "$busybox_deb")"
if [ "$(cat "$guest/stamp" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$guest"
    mkdir -p "$guest/pkg"
    dpkg-deb -x "$kernel_deb" "$guest/pkg"
    dpkg-deb -x "$busybox_deb" "$guest/pkg"
    echo "$stamp" >"$guest/stamp"
fi
vmlinuz=$(ls "$guest"/pkg/boot/vmlinuz-*)
release=${vmlinuz##*/vmlinuz-}
modules=$guest/pkg/lib/modules/$release/kernel/drivers

# Card A in the device tree, as a board port describes it: an at24 part
# with its 32-byte pages, at 0x53 under the I2C controller of bus 1.
dtb=$work/ast2600-evb-card.dtb
cp "$guest/pkg/usr/lib/linux-image-$release/aspeed-ast2600-evb.dtb" "$dtb"
bus1=$(fdtget "$dtb" /aliases i2c1)
fdtput -c "$dtb" "$bus1/eeprom@53"
fdtput -t s "$dtb" "$bus1/eeprom@53" compatible atmel,24c64
fdtput -t x "$dtb" "$bus1/eeprom@53" reg 53
fdtput -t x "$dtb" "$bus1/eeprom@53" pagesize 20

echo "== armhf build (static)"
build=$work/armhf
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/arm-linux-gnueabihf.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 -DKVT_WERROR=ON \
        -DKVT_BUNDLED_GTEST=ON -DKVT_BENCH=OFF \
        "-DKVT_SP_SERVICES=kvt_card_board;kvtsim_platform" >/dev/null
fi
cmake --build "$build" --target kvtd kvtcard kvtsim kvtsim-em eeprom_conformance_test

# The initramfs: busybox, the drivers, the programs and the checks.
root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,kvt,proc,sys,dev,tmp}
cp "$guest/pkg/bin/busybox" "$root/bin/"
for module in i2c/busses/i2c-aspeed i2c/i2c-dev misc/eeprom/at24; do
    mkdir -p "$root/lib/modules/$release/kernel/drivers/${module%/*}"
    cp "$modules/$module.ko" "$root/lib/modules/$release/kernel/drivers/$module.ko"
    echo "kernel/drivers/$module.ko:" >>"$root/lib/modules/$release/modules.dep"
done
for program in kvtd kvtcard kvtsim kvtsim-em tests/eeprom_conformance_test; do
    arm-linux-gnueabihf-strip -o "$root/kvt/${program##*/}" "$build/$program"
done
cp scripts/kernel-i2c-guest.sh "$root/guest.sh"
cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/shm
modprobe -a i2c-aspeed i2c-dev at24
sh /guest.sh
reboot -f
EOF
chmod +x "$root/init" "$root/guest.sh"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/initramfs.gz")

echo "== guest: Linux $release on QEMU ast2600-evb (TCG)"
console=$work/console.log
start=$(date +%s)
status=0
timeout "$guest_timeout" qemu-system-arm -M ast2600-evb -smp 2 -m 1G -nographic -no-reboot \
    -kernel "$vmlinuz" -dtb "$dtb" -initrd "$work/initramfs.gz" \
    -append "console=ttyS4,115200 quiet" \
    -device at24c-eeprom,bus=aspeed.i2c.bus.1,address=0x53,rom-size=8192 \
    -device at24c-eeprom,bus=aspeed.i2c.bus.2,address=0x50,rom-size=8192 \
    </dev/null >"$console" 2>&1 || status=$?
tr -d '\r' <"$console" | grep -E '^(== |KVT-CHECK|    \| )' || true
end=$(tr -d '\r' <"$console" | sed -n 's/^KVT-GUEST-END passed=\([0-9]*\) failed=\([0-9]*\)$/\1 \2/p')
echo "== guest ran $(($(date +%s) - start)) s (QEMU exit status $status)"
if [ -z "$end" ]; then
    tail -n 40 "$console"
    echo "== kernel I2C test: FAILED (the guest did not finish; console in $console)"
    exit 1
fi
read -r passed failed <<<"$end"
seen=$(tr -d '\r' <"$console" | grep -c '^KVT-CHECK PASS ' || true)
if [ "$failed" -ne 0 ] || [ "$passed" -ne "$seen" ] || [ "$passed" -eq 0 ]; then
    echo "== kernel I2C test: FAILED ($failed of $((passed + failed)) checks failed)"
    exit 1
fi
echo "== kernel I2C test: $passed checks passed on the kernel's own I2C drivers"
