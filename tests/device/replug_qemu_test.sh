#!/usr/bin/env bash
# A replug on a real kernel. Boots Debian's kernel under qemu (software
# emulation: no privileges, no /dev/kvm, no network) with an emulated USB
# serial adapter (qemu's usb-serial, an FTDI FT232, on an xHCI bus) whose
# other end is the device simulator's pseudo-terminal, and runs the headless
# bridge in the guest with comDevice=usb:0403:6001. Then the adapter is pulled
# and plugged in again through qemu's monitor, twice:
#   1. after the bridge has let go of it: the kernel gives the old name again;
#   2. while the bridge still holds the old name (it is stopped, SIGSTOP,
#      from before the pull until the adapter is back, so that it cannot let
#      go of it first): the kernel names the new one /dev/ttyUSB1.
# Each time the values must flow again within 10 s of the plug. The log shows
# the device names before and after and the time from the plug to the first
# value again.
#
# The kernel package is downloaded once into CACHE, shared with the other
# qemu tests (tests/support/qemu_kernel.sh). The bridge and tolvane-config
# run in the guest as they are built, with the host's shared libraries.
# Exit 0 on success, 1 on failure, 77 (skipped) when qemu, the kernel package
# or its USB serial driver cannot be had.
#
# Usage: replug_qemu_test.sh HEADLESS CONFIG DEVSIM CACHE_DIR
#   (the paths of tolvane-headless, tolvane-config and tolvane-devsim)
set -euo pipefail

usage="usage: replug_qemu_test.sh HEADLESS CONFIG DEVSIM CACHE_DIR"
headless=${1:?$usage}
config=${2:?$usage}
devsim=${3:?$usage}
cache=${4:?$usage}
# The whole run, and each wait within it (a boot under emulation is the longest).
qemu_seconds=240
boot_seconds=120
step_seconds=45
flow_seconds=10

skip() {
    echo "SKIPPED: $*"
    exit 77
}
die() {
    echo "FAILED: $*"
    exit 1
}

[ "$(uname -m)" = x86_64 ] || skip "the guest runs the host's programs: x86_64 only, not $(uname -m)"
command -v qemu-system-x86_64 >/dev/null ||
    skip "qemu-system-x86_64 is not installed (Debian package qemu-system-x86)"
qemu-system-x86_64 -device help 2>/dev/null | grep -q '"usb-serial"' ||
    skip "this qemu has no usb-serial device (built without USB)"
busybox=/bin/busybox
[ -x "$busybox" ] || die "$busybox is missing (Debian package busybox-static)"
! ldd "$busybox" >/dev/null 2>&1 || die "$busybox is not linked statically (Debian package busybox-static)"
command -v cpio >/dev/null || die "cpio is missing (Debian package cpio)"
for program in "$headless" "$config" "$devsim"; do
    [ -x "$program" ] || die "$program is not built"
done

# The USB stack is modules in Debian's kernel, loaded in this order.
modules="usb-common.ko usbcore.ko xhci-hcd.ko xhci-pci.ko usbserial.ko ftdi_sio.ko"
# shellcheck source=SCRIPTDIR/../support/qemu_kernel.sh
. "$(dirname "$0")/../support/qemu_kernel.sh"
# shellcheck disable=SC2086
qemu_kernel "$cache" $modules || skip "$kernel_failure"
echo "kernel: $kernel_package"

work=$(mktemp -d)
devsim_pid=
qemu_pid=
monitor_pid=
finish() {
    for pid in $qemu_pid $monitor_pid $devsim_pid; do kill "$pid" 2>/dev/null || true; done
    for pid in $qemu_pid $monitor_pid $devsim_pid; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap finish EXIT

root=$work/root
mkdir -p "$root/bin" "$root/lib" "$root/lib64" "$root/proc" "$root/sys" "$root/dev" "$root/tmp"
cp "$busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
for module in $modules; do cp "$kernel_modules/$module" "$root/"; done
echo "$modules" >"$root/modules"
# The programs as they are built, with the libraries they were linked to.
cp "$headless" "$root/bin/tolvane-headless"
cp "$config" "$root/bin/tolvane-config"
for program in "$headless" "$config"; do
    libraries=$(ldd "$program") || die "ldd $program failed"
    ! grep -q 'not found' <<<"$libraries" || die "$program lacks a library: $libraries"
    awk '/=> \// {print $3}' <<<"$libraries" | while read -r library; do
        cp -L "$library" "$root/lib/"
    done
done
cp -L /lib64/ld-linux-x86-64.so.2 "$root/lib64/"
"$config" --file "$root/tolv.conf" set comDevice=usb:0403:6001 >/dev/null 2>&1 ||
    die "tolvane-config could not write the guest's settings"

# The guest's half: it starts the bridge, tells the host when to pull or plug
# the adapter (REPLUG lines on the console) and sees for itself what the
# kernel and the bridge did. No udev: devtmpfs makes /dev/ttyUSBn, and the
# bridge finds the adapter through /sys. A dying /init ends qemu (panic=-1).
cat >"$root/init" <<'EOF'
#!/bin/sh
export PATH=/bin LD_LIBRARY_PATH=/lib
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo REPLUG-GUEST-START
for module in $(cat /modules); do
    insmod "/$module" || echo "REPLUG-FAIL insmod $module"
done
timeout 150 sh /replug.sh
status=$?
[ $status -eq 0 ] || [ -f /tmp/failed ] ||
    echo "REPLUG-FAIL the guest's steps ended with status $status (not within 150 s?)"
echo "REPLUG-GUEST-END"
poweroff -f
EOF
cat >"$root/replug.sh" <<'EOF'
fail() {
    echo "REPLUG-FAIL $*"
    : >/tmp/failed
    exit 1
}
# The adapter's tty as the kernel names it now ("" while there is none).
adapter() {
    ls /sys/class/tty 2>/dev/null | grep '^ttyUSB' | head -n 1
}
# What the bridge holds open of the adapters.
held() {
    ls -l /proc/$bridge/fd 2>/dev/null | grep -o '/dev/ttyUSB[0-9]*.*' | head -n 1
}
captured() {
    stat -c %s /tmp/capture 2>/dev/null || echo 0
}
# wait_until TENTHS CONDITION...: at most TENTHS tenths of a second.
wait_until() {
    n=0 limit=$1
    shift
    until "$@"; do
        [ $n -ge "$limit" ] && return 1
        sleep 0.1
        n=$((n + 1))
    done
}
present() { [ -n "$(adapter)" ]; }
gone() { [ -z "$(adapter)" ]; }
opened() { [ -n "$(adapter)" ] && [ "$(held)" = "/dev/$(adapter)" ]; }
# Values flow again once the bridge holds the adapter as it is now and the
# capture has grown by three lines or so since: lines read before the pull
# that the recorder writes late do not count.
flowing_again() {
    wait_until 300 opened || return 1
    since=$(captured)
    wait_until 100 eval '[ "$(captured)" -gt $((since + 300)) ]'
}
released() { [ -z "$(held)" ]; }

wait_until 300 present || fail "no ttyUSB appeared within 30 s of loading ftdi_sio"
echo "REPLUG-NAME first /dev/$(adapter)"
/bin/tolvane-config ports 2>&1 | sed 's/^/ports: /'

mkfifo /tmp/bridge.out
# Not sed, which holds each line back until the next one comes.
while IFS= read -r line; do echo "bridge: $line"; done </tmp/bridge.out &
cd /tmp
/bin/tolvane-headless --config /tolv.conf --record /tmp/capture >/tmp/bridge.out 2>&1 &
bridge=$!
flowing_again || fail "no values within 40 s of the bridge's start"
echo "REPLUG-FLOWING 0 $(held)"

# 1. Pulled, and plugged in again once the bridge has let go of it.
echo "REPLUG-PULL 1"
wait_until 300 gone || fail "the adapter's tty did not go within 30 s of the pull"
wait_until 300 released || fail "the bridge still holds $(held) 30 s after the pull"
echo "REPLUG-PLUG 1"
wait_until 300 present || fail "no ttyUSB appeared within 30 s of the plug"
echo "REPLUG-NAME after-1 /dev/$(adapter)"
flowing_again || fail "no values within 40 s of the plug"
echo "REPLUG-FLOWING 1 $(held)"

# 2. Pulled and plugged in again while the bridge still holds the old name.
kill -STOP $bridge
echo "REPLUG-PULL 2"
wait_until 300 gone || fail "the adapter's tty did not go within 30 s of the pull"
echo "REPLUG-HELD $(held)"
echo "REPLUG-PLUG 2"
wait_until 300 present || fail "no ttyUSB appeared within 30 s of the plug"
echo "REPLUG-NAME after-2 /dev/$(adapter)"
kill -CONT $bridge
flowing_again || fail "no values within 40 s of the plug"
echo "REPLUG-FLOWING 2 $(held)"
kill -TERM $bridge
wait $bridge
echo "REPLUG-BRIDGE-EXIT $?"
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"

# The device simulator, preset C: one line per poll byte.
"$devsim" >"$work/devsim.out" 2>"$work/devsim.err" &
devsim_pid=$!
terminal=
for _ in $(seq 100); do
    terminal=$(head -n 1 "$work/devsim.out")
    [ -n "$terminal" ] && break
    sleep 0.1
done
[ -n "$terminal" ] || die "the simulator printed no terminal within 10 s: $(cat "$work/devsim.err")"

# The monitor on a pair of FIFOs, which qemu opens read-write (no wait).
mkfifo "$work/monitor.in" "$work/monitor.out"
adapter_device="usb-serial,id=adapter,bus=xhci.0,chardev=device"
start=$(date +%s.%N)
timeout "$qemu_seconds" qemu-system-x86_64 -accel tcg -m 256 -display none -no-reboot -nic none \
    -kernel "$kernel_image" -initrd "$work/initramfs.cpio" \
    -append 'console=ttyS0 panic=-1 quiet' -serial "file:$work/console" \
    -monitor "pipe:$work/monitor" -device qemu-xhci,id=xhci \
    -chardev "serial,id=device,path=$terminal" -device "$adapter_device" \
    </dev/null >"$work/qemu.out" 2>&1 &
qemu_pid=$!
cat <>"$work/monitor.out" >"$work/monitor.log" &
monitor_pid=$!
exec {monitor}<>"$work/monitor.in"

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
# The guest's lines so far into $work/guest, without carriage returns and
# escape sequences. Read from the file: a pipe into "grep -q" may end its
# writer early, which pipefail would take for a failure.
read_guest() {
    sed -e 's/\x1bc//g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g' "$work/console" \
        >"$work/guest" 2>/dev/null || true
}
show_guest() {
    read_guest
    sed -n '/REPLUG-GUEST-START/,$p' "$work/guest" | grep -v '^$' || true
}
# await SECONDS WHAT: waits for a guest line beginning with WHAT.
await() {
    local limit=$1 what=$2 n=0
    until read_guest && grep -q "^$what" "$work/guest"; do
        if grep -q '^REPLUG-FAIL' "$work/guest" || ! kill -0 "$qemu_pid" 2>/dev/null; then
            show_guest
            tail -n 5 "$work/qemu.out"
            grep -i error "$work/monitor.log" || true
            grep -q '^REPLUG-FAIL' "$work/guest" && die "the guest stopped before \"$what\""
            die "qemu ended before \"$what\""
        fi
        if [ $n -ge $((limit * 20)) ]; then
            show_guest
            die "no \"$what\" from the guest within $limit s"
        fi
        sleep 0.05
        n=$((n + 1))
    done
}
monitor() {
    echo "monitor: $*"
    printf '%s\n' "$*" >&"$monitor"
}

await "$boot_seconds" "REPLUG-FLOWING 0"
echo "booted and values flowing after $(seconds_since "$start") s"
declare -a times
for round in 1 2; do
    await "$step_seconds" "REPLUG-PULL $round"
    monitor device_del adapter
    await "$step_seconds" "REPLUG-PLUG $round"
    monitor device_add "$adapter_device"
    plugged=$(now)
    await "$step_seconds" "REPLUG-FLOWING $round"
    times[round]=$(seconds_since "$plugged")
done
await "$step_seconds" "REPLUG-GUEST-END"
wait "$qemu_pid" || true
qemu_pid=

show_guest
echo "qemu ran $(seconds_since "$start") s"
name() { awk -v key="$1" '$1 == "REPLUG-NAME" && $2 == key { print $3; exit }' "$work/guest"; }
before=$(name first)
after1=$(name after-1)
after2=$(name after-2)
held=$(awk '$1 == "REPLUG-HELD" { $1 = ""; print substr($0, 2); exit }' "$work/guest")
echo "replug 1 (the old name let go): $before -> $after1, values again ${times[1]} s after the plug"
echo "replug 2 (the old name held: $held): $before -> $after2, values again ${times[2]} s after the plug"
for round in 1 2; do
    awk -v t="${times[round]}" -v limit="$flow_seconds" 'BEGIN { exit !(t <= limit) }' ||
        die "replug $round: the values took ${times[round]} s to flow again (at most $flow_seconds s)"
done
[ "$after2" != "$before" ] || die "the kernel gave the held name $before again: the replug proved nothing"
grep -q "^REPLUG-FLOWING 2 $after2" "$work/guest" ||
    die "the bridge does not read from $after2 after the second replug"
grep -q '^REPLUG-BRIDGE-EXIT 0' "$work/guest" || die "the bridge did not end cleanly on SIGTERM"
echo "PASSED"
