# shellcheck shell=bash disable=SC2034  # its results are for the scripts that source it
# Debian's kernel and some of its modules for the tests that boot it under
# qemu (sourced by tests/pointer/uinput_qemu_test.sh and
# tests/device/replug_qemu_test.sh).
#
#   qemu_kernel CACHE MODULE.ko...
#
# Sets kernel_image (the vmlinuz), kernel_modules (the folder holding the
# modules named, by their file names), kernel_package and kernel_cache (CACHE,
# or a folder of the user's own when CACHE cannot be written). The package is
# downloaded with apt-get download (not installed) only when something asked
# for is not in CACHE yet; every file in CACHE then comes afresh from that one
# package, so the kernel and its modules always match. Returns 1 with the
# reason in kernel_failure when the package or a module cannot be had.

qemu_kernel() {
    local cache=$1
    shift
    local lock
    kernel_failure=
    # The build tree may belong to someone else (a test run as another user).
    if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ] ||
        { [ -e "$cache/lock" ] && [ ! -w "$cache/lock" ]; }; then
        cache=${TMPDIR:-/tmp}/tolvane-qemu-kernel-$(id -u)
        mkdir -p "$cache" || { kernel_failure="cannot make $cache"; return 1; }
    fi
    kernel_cache=$cache
    kernel_image=$cache/vmlinuz
    kernel_modules=$cache
    # Two tests fetching at once would unpack over each other.
    exec {lock}>>"$cache/lock" || { kernel_failure="cannot open $cache/lock"; return 1; }
    if ! flock -w 120 "$lock"; then
        exec {lock}>&-
        kernel_failure="another test has held $cache/lock for 120 s"
        return 1
    fi
    local wanted=("$@") missing=0 module
    [ -f "$kernel_image" ] || missing=1
    for module in "${wanted[@]}"; do [ -f "$cache/$module" ] || missing=1; done
    if [ "$missing" -eq 1 ]; then
        qemu_kernel_fetch "$cache" "${wanted[@]}" || {
            exec {lock}>&-
            return 1
        }
    fi
    exec {lock}>&-
    kernel_package=$(cat "$cache/package" 2>/dev/null || echo unknown)
}

qemu_kernel_fetch() {
    local cache=$1
    shift
    local package
    package=$(apt-cache depends linux-image-amd64 2>/dev/null |
        grep -o 'linux-image-[0-9][0-9.]*-[0-9]*-amd64' | head -n 1 || true)
    if [ -z "$package" ]; then
        kernel_failure="no linux-image-*-amd64 package is known to apt (apt-get update?)"
        return 1
    fi
    # What the other tests took before comes from the new package too.
    local names=("$@") old
    for old in "$cache"/*.ko; do [ -f "$old" ] && names+=("$(basename "$old")"); done
    local download
    download=$(mktemp -d "$cache/download.XXXXXX")
    if ! (cd "$download" && apt-get download "$package" >/dev/null 2>&1); then
        rm -rf "$download"
        kernel_failure="apt-get download $package failed"
        return 1
    fi
    local patterns=('./boot/vmlinuz-*') unique name found out
    unique=$(printf '%s\n' "${names[@]}" | sort -u)
    # Under /lib or /usr/lib, plain or compressed (.ko.xz, .ko.zst).
    for name in $unique; do patterns+=("./*modules/*/$name" "./*modules/*/$name.*"); done
    dpkg-deb --fsys-tarfile "$download"/*.deb |
        tar -x -C "$download" --wildcards "${patterns[@]}" 2>/dev/null || true
    mkdir "$download/out"
    for name in $unique; do
        found=$(find "$download" -path '*modules/*' \( -name "$name" -o -name "$name.xz" \
            -o -name "$name.zst" \) 2>/dev/null | head -n 1)
        out=$download/out/$name
        case "$found" in
        *.xz) xz -dc "$found" >"$out" 2>/dev/null || rm -f "$out" ;;
        *.zst) zstd -dcq "$found" >"$out" 2>/dev/null || rm -f "$out" ;;
        ?*) mv "$found" "$out" ;;
        esac
        # One the package no longer has (kept by an earlier test) stays as it was.
        if [ ! -f "$out" ] && printf '%s\n' "$@" | grep -qxF "$name"; then
            rm -rf "$download"
            kernel_failure="$package has no $name that can be used here (not built as a module, or compressed and xz or zstd is missing)"
            return 1
        fi
    done
    mv -f "$download"/out/*.ko "$cache/"
    mv -f "$download"/boot/vmlinuz-* "$cache/vmlinuz"
    echo "$package" >"$cache/package"
    rm -rf "$download"
}
