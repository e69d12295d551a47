#!/usr/bin/env bash
# The uinput pointer on a real kernel. Boots Debian's kernel under qemu
# (software emulation: no privileges, no /dev/kvm, no network) with an
# initramfs of busybox and the statically linked test program, which drives
# the uinput backend and reads every event back (uinput_guest.cpp).
#
# The kernel package is downloaded once (apt-get download, not installed) into
# CACHE, which the other qemu tests share; only vmlinuz, evdev.ko and
# uinput.ko are taken out of it (tests/support/qemu_kernel.sh).
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
! ldd "$busybox" >/dev/null 2>&1 || die "$busybox is not linked statically (Debian package busybox-static)"
command -v cpio >/dev/null || die "cpio is missing (Debian package cpio)"

# One kernel package gives the kernel and both modules, so they always match.
# shellcheck source=SCRIPTDIR/../support/qemu_kernel.sh
. "$(dirname "$0")/../support/qemu_kernel.sh"
qemu_kernel "$cache" evdev.ko uinput.ko || skip "$kernel_failure"
kernel=$kernel_image
cache=$kernel_cache
echo "kernel: $kernel_package"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/dev"
cp "$busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
cp "$kernel_modules/evdev.ko" "$kernel_modules/uinput.ko" "$root/"
cp "$guest" "$root/uinput_guest"
# How libinput, the input stack of Wayland compositors, takes the device: its
# debug tool and udev's input_id classification (the properties libinput
# reads) from Debian's packages, downloaded and unpacked here, not installed.
libinput_packages="libinput-tools libinput10 libinput-bin libmtdev1 libwacom9 libwacom-common
    libgudev-1.0-0 udev"
add_libinput() {
    local dir=$cache/libinput
    if [ ! -f "$dir/unpacked" ]; then
        rm -rf "$dir"
        mkdir -p "$dir/debs"
        # shellcheck disable=SC2086
        (cd "$dir/debs" && apt-get download $libinput_packages >/dev/null 2>&1) || return 1
        for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$dir/root"; done
        rm -rf "$dir/debs"
        touch "$dir/unpacked"
    fi
    local tool=$dir/root/usr/libexec/libinput/libinput-debug-events
    local udevadm=$dir/root/bin/udevadm
    local libs
    libs=$(LD_LIBRARY_PATH=$dir/root/usr/lib/x86_64-linux-gnu ldd "$tool" "$udevadm") || return 1
    ! grep -q 'not found' <<<"$libs" || return 1
    mkdir -p "$root/lib" "$root/lib64" "$root/usr/share" "$root/run/udev/data"
    cp "$tool" "$udevadm" "$root/bin/"
    cp -r "$dir/root/usr/share/libinput" "$root/usr/share/"
    awk '/=> \// {print $3}' <<<"$libs" | sort -u | while read -r lib; do cp -L "$lib" "$root/lib/"; done
    cp -L /lib64/ld-linux-x86-64.so.2 "$root/lib64/"
}
if add_libinput; then
    echo "libinput: its debug tool and udevadm added to the guest"
else
    echo "libinput: its packages could not be had; the guest shows no classification"
fi

# No udev here: devtmpfs makes /dev/uinput and the event nodes, and libevdev
# finds a device's node through /sys. A dying /init ends qemu (panic=-1).
cat >"$root/init" <<'EOF'
#!/bin/sh
export PATH=/bin
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp
echo UINPUT-GUEST-START
insmod /evdev.ko
/uinput_guest absent
insmod /uinput.ko
/uinput_guest
echo "UINPUT-GUEST-UPTIME $(cut -d' ' -f1 /proc/uptime)"
if [ -x /bin/libinput-debug-events ]; then
    echo LIBINPUT-START
    timeout 60 sh /libinput.sh || echo "libinput: no result within 60 s"
    echo LIBINPUT-END
fi
poweroff -f
EOF
cat >"$root/libinput.sh" <<'EOF'
mkfifo /tmp/ready /tmp/go
/uinput_guest show /tmp/ready /tmp/go &
guest=$!
read -r node </tmp/ready
exec 3>/tmp/go
# What udev would record for the device, where libinput looks for it.
udevadm test-builtin input_id "/sys/class/input/$node" 2>/dev/null | grep '^ID_INPUT' >/tmp/props
sed 's/^/udev: /' /tmp/props
{ sed 's/^/E:/' /tmp/props; echo I:1; } >"/run/udev/data/c$(cat "/sys/class/input/$node/dev")"
LD_LIBRARY_PATH=/lib libinput-debug-events --device "/dev/input/$node" >/tmp/libinput 2>&1 &
debug=$!
n=0
until grep -q DEVICE_ADDED /tmp/libinput || [ $n -ge 100 ]; do sleep 0.1; n=$((n + 1)); done
echo go >&3
n=0
until grep -q SCROLL_WHEEL /tmp/libinput || [ $n -ge 100 ]; do sleep 0.1; n=$((n + 1)); done
echo end >&3
exec 3>&-
wait $guest
kill $debug
sed 's/^/libinput: /' /tmp/libinput
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
