#!/bin/sh
# The checks that scripts/test-kernel-i2c.sh runs inside its QEMU guest
# (busybox sh), against the kernel's aspeed I2C, i2c-dev and at24 drivers
# and two of QEMU's at24c-eeprom parts (24C64, 16-bit addresses):
#   card A  bus 1, 0x53, bound to at24 by the device tree with its pages
#   card B  bus 2, 0x50, bound to at24 at run time with new_device
# Each check prints "KVT-CHECK PASS <name>", or "KVT-CHECK FAIL <name>"
# with its output; the last line is "KVT-GUEST-END passed=N failed=M".
PATH=/kvt:/bin
export PATH
A_I2C=/dev/i2c-1@0x53
A_AT24=/sys/bus/i2c/devices/1-0053/eeprom
B_I2C=/dev/i2c-2@0x50
B_AT24=/sys/bus/i2c/devices/2-0050/eeprom
out=/tmp/check.out
passed=0
failed=0

section() {
    echo "== $1 (at $(cut -d' ' -f1 /proc/uptime) s)"
}

pass() {
    passed=$((passed + 1))
    echo "KVT-CHECK PASS $1"
}

fail() {
    failed=$((failed + 1))
    echo "KVT-CHECK FAIL $1"
    sed 's/^/    | /' "$out"
}

# check NAME STATUS COMMAND...: the command exits with STATUS.
check() {
    name=$1
    want=$2
    shift 2
    "$@" >"$out" 2>&1
    got=$?
    if [ "$got" -eq "$want" ]; then
        pass "$name"
    else
        echo "exit status $got, expected $want: $*" >>"$out"
        fail "$name"
    fi
}

# has NAME TEXT: the last check's output holds TEXT.
has() {
    if grep -q -- "$2" "$out"; then
        pass "$1"
    else
        echo "missing: $2" >>"$out"
        fail "$1"
    fi
}

# wait_for NAME FILE TEXT: FILE comes to hold TEXT within a minute.
wait_for() {
    tries=0
    until grep -q -- "$3" "$2" 2>/dev/null; do
        tries=$((tries + 1))
        if [ "$tries" -gt 600 ]; then
            { cat "$2"; echo "no '$3' in $2 within a minute"; } >"$out" 2>&1
            fail "$1"
            return 1
        fi
        sleep 0.1
    done
    pass "$1"
}

# card_shows NAME DEVICE TEXT: kvtcard show of the card comes to hold TEXT.
card_shows() {
    tries=0
    until kvtcard show --device "$2" 2>&1 | grep -q -- "$3"; do
        tries=$((tries + 1))
        if [ "$tries" -gt 600 ]; then
            kvtcard show --device "$2" >"$out" 2>&1
            echo "no '$3' on the card within a minute" >>"$out"
            fail "$1"
            return 1
        fi
        sleep 0.1
    done
    pass "$1"
}

# A fresh simulated SP whose services kvtd uses beside the real card.
new_sp() {
    [ -z "${KVT_SP_ROOT:-}" ] || kvtsim em stop >/dev/null 2>&1
    export KVT_SP_ROOT=/tmp/$1 KVT_SIM_TIME_SCALE=0.01
    check "$1_sp_init" 0 kvtsim init
    check "$1_event_manager" 0 kvtsim em start
}

status=/tmp/none
# kvtd_start NAME DEVICE: kvtd -b on the card DEVICE, up and its first
# card check passed (the header read found the card where DEVICE is).
kvtd_start() {
    status=$KVT_SP_ROOT/run/kvtd/status
    check "$1_kvtd_starts" 0 env KVT_CARD_DEVICE="$2" kvtd -b
    wait_for "$1_event_manager_linked" "$status" "event manager: connected"
    wait_for "$1_card_check_passes" "$status" "card check: 0"
}

kvtd_stop() {
    pid=$(sed -n 's/^pid: //p' "$status")
    check "$1_kvtd_stops" 0 kill -TERM "$pid"
    tries=0
    while kill -0 "$pid" 2>/dev/null && [ "$tries" -lt 600 ]; do
        tries=$((tries + 1))
        sleep 0.1
    done
    check "$1_kvtd_gone" 1 kill -0 "$pid"
}

# monitor NAME BUS ADDRESS: the card monitor sees a header made bad on the
# card itself (version 0xFF) and the card come back when it is sound again.
# i2ctransfer -f: the at24 driver holds the address.
monitor() {
    faults=$KVT_SP_ROOT/sim/faultlog
    check "$1_header_spoilt" 0 i2ctransfer -f -y "$2" "w3@$3" 0x18 0x00 0xff
    wait_for "$1_monitor_raises_64" "$faults" "fault 64 KVT_REMOVED"
    check "$1_header_mended" 0 i2ctransfer -f -y "$2" "w3@$3" 0x18 0x00 0x0b
    wait_for "$1_monitor_clears_64" "$faults" "clear 64 KVT_REMOVED"
}

section "the kernel's drivers"
dmesg >"$out"
has at24_device_tree_gives_card_a_its_pages "at24 1-0053: 8192 byte 24c64 EEPROM, writable, 32 bytes/write"
echo 24c64 0x50 >/sys/bus/i2c/devices/i2c-2/new_device
dmesg >"$out"
has at24_new_device_gives_no_page_size "at24 2-0050: 8192 byte 24c64 EEPROM, writable, 1 bytes/write"

section "the conformance suite (card A)"
suite="--gtest_brief=1 --gtest_filter=*configured*:EepromParts.*"
check conformance_i2c_dev 0 env KVT_CONFORMANCE_DEVICE=$A_I2C KVT_CONFORMANCE_PART=24c64 \
    eeprom_conformance_test $suite
check conformance_at24 0 env KVT_CONFORMANCE_DEVICE=at24:$A_AT24 KVT_CONFORMANCE_PART=24c64 \
    eeprom_conformance_test $suite
check conformance_misspelt_part_fails 1 env KVT_CONFORMANCE_DEVICE=$A_I2C \
    KVT_CONFORMANCE_PART=24c46 eeprom_conformance_test $suite
check conformance_that_tested_nothing_fails 1 env KVT_CONFORMANCE_DEVICE=$A_I2C \
    eeprom_conformance_test --gtest_filter=EepromParts.*

section "kvtcard on card A, both backends"
check detect_i2c_dev 0 kvtcard detect --device $A_I2C
check detect_at24 0 kvtcard detect --device $A_AT24
check detect_empty_address 1 kvtcard detect --device /dev/i2c-1@0x52
has detect_empty_address_says_so "no card answers"
check save_i2c_dev 0 kvtcard save --device $A_I2C /tmp/a-before.bin
check save_at24 0 kvtcard save --device $A_AT24 /tmp/a-before-at24.bin
check saves_agree 0 cmp /tmp/a-before.bin /tmp/a-before-at24.bin

section "kvtd on card A through i2c-dev at 0x53"
new_sp a_i2c
kvtd_start a_i2c "i2c:$A_I2C"
wait_for a_i2c_captures "$status" "startup decision: capture"
check a_i2c_live_change 0 kvtsim set /X/clients/smtp/port 25
card_shows a_i2c_change_on_card $A_AT24 "mail_port: 25"
monitor a_i2c 1 0x53
kvtd_stop a_i2c

section "kvtcard on kvtd's card A"
check verify_i2c_dev 0 kvtcard verify --device $A_I2C
check verify_at24 0 kvtcard verify --device $A_AT24
check hexdump_i2c_dev 0 kvtcard hexdump --device $A_I2C
has hexdump_names_sections "section 7, console: 0x1d43-0x1d7e, checksum ok"
check save_kvtd_card 0 kvtcard save --device $A_AT24 /tmp/a-kvtd.bin
check write_whole_at24 0 kvtcard write --whole --force --device $A_AT24 /tmp/a-before.bin
check card_a_is_put_back 0 sh -c "kvtcard save --device $A_I2C /tmp/a-back.bin &&
    cmp /tmp/a-back.bin /tmp/a-before.bin"
check write_image_i2c_dev 0 kvtcard write --force --device $A_I2C /tmp/a-kvtd.bin
has write_image_reads_back "read back the same"
check verify_written_card 0 kvtcard verify --device $A_AT24
check write_whole_i2c_dev 0 kvtcard write --whole --force --device $A_I2C /tmp/a-kvtd.bin
check card_a_is_kvtds_again 0 sh -c "kvtcard save --device $A_AT24 /tmp/a-again.bin &&
    cmp /tmp/a-again.bin /tmp/a-kvtd.bin"

section "kvtd on card B at 0x50 through at24 (bound with new_device)"
new_sp b_at24
kvtd_start b_at24 "at24:$B_AT24"
wait_for b_at24_captures "$status" "startup decision: capture"
check b_at24_live_change 0 kvtsim set /X/clients/smtp/port 26
card_shows b_at24_change_on_card $B_I2C "mail_port: 26"
monitor b_at24 2 0x50
kvtd_stop b_at24

section "kvtd on card B at 0x50 through i2c-dev"
kvtd_start b_i2c "i2c:$B_I2C"
check b_i2c_live_change 0 kvtsim set /X/clients/smtp/port 27
card_shows b_i2c_change_on_card $B_AT24 "mail_port: 27"
monitor b_i2c 2 0x50
kvtd_stop b_i2c
kvtsim em stop >/dev/null 2>&1

echo "KVT-GUEST-END passed=$passed failed=$failed"
