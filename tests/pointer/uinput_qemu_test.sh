#!/usr/bin/env bash
# The uinput pointer on a real kernel. Boots Debian's kernel under qemu
# (software emulation: no privileges, no /dev/kvm, no network) with an
# initramfs of busybox and the statically linked test program, which drives
# the uinput backend and reads every event back (uinput_guest.cpp).
#
# The kernel package is downloaded once (apt-get download, not installed) into
# CACHE; only vmlinuz, evdev.ko and uinput.ko are taken out of it.
# Exit 0 on success, 1 on failure, 77 (skipped) when qemu or the kernel
# package cannot be had.
#
# Usage: uinput_qemu_test.sh GUEST_PROGRAM CACHE_DIR
set -euo pipefail

guest=${1:?usage: uinput_qemu_test.sh GUEST_PROGRAM CACHE_DIR}
cache=${2:?usage: uinput_qemu_test.sh GUEST_PROGRAM CACHE_DIR}
timeout_seconds=120

skip() {
    echo "SKIPPED: $*"
    exit 77
}
die() {
    echo "FAILED: $*"
    exit 1
}

command -v qemu-system-x86_64 >/dev/null ||
    skip "qemu-system-x86_64 is not installed (Debian package qemu-system-x86)"
busybox=/bin/busybox
[ -x "$busybox" ] || die "$busybox is missing (Debian package busybox-static)"
command -v cpio >/dev/null || die "cpio is missing (Debian package cpio)"

# The build tree may belong to someone else (a test run as another user).
if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
    cache=${TMPDIR:-/tmp}/tolvane-uinput-kernel-$(id -u)
    mkdir -p "$cache"
fi

# One kernel package gives the kernel and both modules, so they always match.
kernel=$cache/vmlinuz
if [ ! -f "$kernel" ] || [ ! -f "$cache/evdev.ko" ] || [ ! -f "$cache/uinput.ko" ]; then
    package=$(apt-cache depends linux-image-amd64 2>/dev/null |
        grep -o 'linux-image-6\.1\.0-[0-9]*-amd64' | head -n 1 || true)
    [ -n "$package" ] || skip "no linux-image-6.1.0-*-amd64 package is known to apt (apt-get update?)"
    download=$(mktemp -d "$cache/download.XXXXXX")
    (cd "$download" && apt-get download "$package" >/dev/null 2>&1) ||
        { rm -rf "$download"; skip "apt-get download $package failed"; }
    deb=$(ls "$download"/*.deb)
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$download" --wildcards \
        './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/input/evdev.ko' \
        './lib/modules/*/kernel/drivers/input/misc/uinput.ko'
    cp "$download"/boot/vmlinuz-* "$cache/vmlinuz.new"
    cp "$download"/lib/modules/*/kernel/drivers/input/evdev.ko "$cache/evdev.ko"
    cp "$download"/lib/modules/*/kernel/drivers/input/misc/uinput.ko "$cache/uinput.ko"
    echo "$package" >"$cache/package"
    rm -rf "$download"
    mv "$cache/vmlinuz.new" "$kernel"
fi
echo "kernel: $(cat "$cache/package" 2>/dev/null || echo unknown)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/dev"
cp "$busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
cp "$cache/evdev.ko" "$cache/uinput.ko" "$root/"
cp "$guest" "$root/uinput_guest"
# No udev here: devtmpfs makes /dev/uinput and the event nodes, and libevdev
# finds a device's node through /sys. A dying /init ends qemu (panic=-1).
cat >"$root/init" <<'EOF'
#!/bin/sh
export PATH=/bin
busybox mount -t proc proc /proc
busybox mount -t sysfs sysfs /sys
busybox mount -t devtmpfs devtmpfs /dev
echo UINPUT-GUEST-START
busybox insmod /evdev.ko
/uinput_guest absent
busybox insmod /uinput.ko
/uinput_guest
echo "UINPUT-GUEST-UPTIME $(busybox cut -d' ' -f1 /proc/uptime)"
busybox poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"

start=$(date +%s.%N)
status=0
timeout "$timeout_seconds" qemu-system-x86_64 -accel tcg -m 256 -nographic -no-reboot -nic none \
    -kernel "$kernel" -initrd "$work/initramfs.cpio" \
    -append 'console=ttyS0 panic=-1 quiet' </dev/null >"$work/console" 2>&1 || status=$?
end=$(date +%s.%N)

# The guest's lines, without the firmware's escape sequences and carriage returns.
sed -e 's/\x1bc//g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g' "$work/console" |
    sed -n '/UINPUT-GUEST-START/,$p' | grep -v '^$' >"$work/guest" || true
cat "$work/guest"
seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
echo "qemu ran ${seconds} s (exit status $status, time-out ${timeout_seconds} s)"

if [ "$status" -eq 124 ]; then
    tail -n 20 "$work/console"
    die "the guest did not finish within ${timeout_seconds} s"
fi
if ! grep -q 'UINPUT-GUEST-START' "$work/guest"; then
    tail -n 40 "$work/console"
    die "the guest did not start"
fi
grep -q 'UINPUT-ABSENT PASS' "$work/guest" || die "the missing /dev/uinput was not reported right"
grep -q 'UINPUT-TEST PASS' "$work/guest" || die "the events read back are not the air mouse's"
echo "PASSED"
