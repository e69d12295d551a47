#!/usr/bin/env bash
# Checks the packages as a user meets them.
# Usage: check_packages.sh SOURCE_DIR PACKAGE_DIR VERSION
#   the .deb: contents against the expected list, lintian, each program run
#   from the unpacked package with --version and --help, the systemd unit;
#   the zip: contents against the expected list, README.txt for a Windows user
#   (byte-order mark, CR LF),
#   version information in every program, unpacked into a fresh wine prefix:
#   tolvane-headless.exe --version, tolvane-config.exe check, the sample
#   capture through tolvane-decode.exe, tolvane.exe started and ended; two zip
#   builds byte for byte (by the caller).
set -euo pipefail
source_dir=$1
packages=$2
version=$3
deb=$packages/tolvane_${version}_amd64.deb
zip=$packages/tolvane-${version}-win64.zip
work=$(mktemp -d)
. "$source_dir/tests/support/private_display.sh"
cleanup() {
    [ -n "${wine_prefix:-}" ] && WINEPREFIX=$wine_prefix timeout 30 wineserver -k >/dev/null 2>&1
    stop_private_display
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check_packages: $*" >&2; exit 1; }

echo "-- deb: contents"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#; s#/$##' | grep -v '^/*$' | sort >"$work/contents"
diff -u "$source_dir/tests/package/deb_contents.txt" "$work/contents" ||
    fail "the .deb holds other files than tests/package/deb_contents.txt lists"

echo "-- deb: lintian"
lintian --allow-root "$deb" >"$work/lintian" 2>&1 || true
cat "$work/lintian"
! grep -q '^E:' "$work/lintian" || fail "lintian reports errors"

echo "-- deb: programs from the unpacked package"
dpkg-deb -x "$deb" "$work/root"
for program in "$work"/root/usr/bin/*; do
    name=$(basename "$program")
    out=$("$program" --version) || fail "$name --version failed"
    [ "$out" = "$name $version" ] || fail "$name --version printed '$out'"
    # Read whole: grep -q would stop at its match, and a long help that is
    # still being written would end on SIGPIPE, which pipefail counts.
    help=$("$program" --help) || fail "$name --help failed"
    grep -q "$name" <<<"$help" || fail "$name --help does not name the program"
    man_page=$work/root/usr/share/man/man1/$name.1.gz
    [ -s "$man_page" ] || fail "no man page for $name"
done

echo "-- deb: systemd user unit"
unit=$work/root/usr/lib/systemd/user/tolvane-headless.service
grep -q '^ExecStart=/usr/bin/tolvane-headless --config ' "$unit" || fail "unit does not run tolvane-headless --config"
# verify wants the program where the unit says it is, and a user runtime
# folder: a copy of the unit that points into the unpacked root, no manager.
mkdir -p "$work/runtime" "$work/unit"
chmod 700 "$work/runtime"
sed "s#^ExecStart=/usr/bin/#ExecStart=$work/root/usr/bin/#" "$unit" >"$work/unit/tolvane-headless.service"
XDG_RUNTIME_DIR=$work/runtime systemd-analyze --user --man=no verify \
    "$work/unit/tolvane-headless.service" || fail "systemd-analyze verify rejects the unit"

echo "-- deb: the uinput rule and module"
rule=$work/root/usr/lib/udev/rules.d/70-tolvane-uinput.rules
grep -qx 'KERNEL=="uinput", SUBSYSTEM=="misc", TAG+="uaccess", OPTIONS+="static_node=uinput"' "$rule" ||
    fail "the udev rule does not give /dev/uinput to the seat's user"
grep -qx uinput "$work/root/usr/lib/modules-load.d/tolvane.conf" || fail "uinput is not loaded at boot"

echo "-- zip: on a fresh wine prefix"
mkdir -p "$work/zip"
(cd "$work/zip" && python3 -m zipfile -e "$zip" .)
folder=$work/zip/tolvane-${version}-win64
python3 -m zipfile -l "$zip" | awk 'NR > 1 {print $1}' | LC_ALL=C sort >"$work/zip_contents"
sed "s/@VERSION@/$version/" "$source_dir/tests/package/zip_contents.txt" |
    diff -u - "$work/zip_contents" || fail "the zip holds other files than tests/package/zip_contents.txt lists"

echo "-- zip: README.txt for a Windows user"
python3 "$source_dir/tests/package/check_windows_readme.py" "$folder/README.txt" \
    "$source_dir/app/win32/tolvane.rc" "$source_dir/protocol/worker_event.cpp" ||
    fail "README.txt misses what a Windows user needs"
cmp -s <(tail -c +4 "$folder/README.txt" | tr -d '\r') "$source_dir/docs/README-Windows.txt" ||
    fail "README.txt is not docs/README-Windows.txt"

echo "-- zip: version information of every program"
python3 "$source_dir/tests/package/exe_version.py" "$folder"/*.exe >"$work/versions" ||
    { cat "$work/versions"; fail "a program has no version information"; }
cat "$work/versions"
while read -r name fixed product file icons description; do
    [ "$product" = "$version" ] && [ "$file" = "$version" ] ||
        fail "$name says version $product/$file, the package $version"
    [ "${fixed%.0.0}" = "$version" ] || [ "${fixed%.0}" = "$version" ] ||
        fail "$name holds the numbers $fixed for version $version"
    [ "$icons" -ge 1 ] || fail "$name has no icon"
    [ "$description" != - ] || fail "$name has no description"
done <"$work/versions"
# The display first: the wine server this prefix starts keeps the display it
# was started with, and without one no window can be made later.
start_private_display 1024 768 "$work" || fail "Xvfb did not start"
wine_prefix=$work/wineprefix
export TOLVANE_WINEPREFIX=$wine_prefix
out=$("$source_dir/cmake/wine-run.sh" "$folder/tolvane-headless.exe" --version | tr -d '\r')
[ "$out" = "tolvane-headless $version" ] || fail "tolvane-headless.exe --version printed '$out'"

# What a window user runs to learn why the window says "error": the zip's
# own tolv.conf, its port missing in a fresh prefix.
(cd "$folder" && "$source_dir/cmake/wine-run.sh" ./tolvane-config.exe check) | tr -d '\r' >"$work/check" &&
    fail "tolvane-config.exe check found the zip's port in a fresh prefix"
grep -q "^settings read from .*tolv.conf" "$work/check" || { cat "$work/check"; fail "check did not read the zip's tolv.conf"; }
grep -q "^cannot open the serial port" "$work/check" || { cat "$work/check"; fail "check gave no reason for the port"; }
# The decoder's help names the sample capture as it lies in the folder.
capture=$("$source_dir/cmake/wine-run.sh" "$folder/tolvane-decode.exe" --help | tr -d '\r' |
          sed -n 's/^  tolvane-decode \([^ -][^ ]*\)$/\1/p' | head -1)
[ -n "$capture" ] && [ -f "$folder/$capture" ] || fail "tolvane-decode.exe --help names '$capture', which the zip lacks"
decoded=$(cd "$folder" && "$source_dir/cmake/wine-run.sh" ./tolvane-decode.exe "$capture") ||
    fail "tolvane-decode.exe $capture failed"
[ -n "$decoded" ] || fail "tolvane-decode.exe $capture printed nothing"

(cd "$folder" && exec "$source_dir/cmake/wine-run.sh" ./tolvane.exe) >"$work/tolvane.log" 2>&1 &
program=$!
for _ in $(seq 1 300); do
    xdotool search --class tolvane.exe >/dev/null 2>&1 && break
    kill -0 "$program" 2>/dev/null || { cat "$work/tolvane.log" >&2; fail "tolvane.exe ended before it showed its window"; }
    sleep 0.1
done
xdotool search --class tolvane.exe >/dev/null 2>&1 || fail "tolvane.exe showed no window within 30 s"
WINEPREFIX=$wine_prefix timeout 30 wine taskkill /IM tolvane.exe >/dev/null 2>&1 || true
status=0
timeout 30 tail --pid="$program" -f /dev/null || fail "tolvane.exe did not end when asked"
wait "$program" || status=$?
[ "$status" -eq 0 ] || fail "tolvane.exe ended with status $status"
echo "packages checked"
