#!/usr/bin/env bash
# tolvane-config.exe under wine as a Windows user meets it: check with a COM
# port that is missing, one that is present (a pseudo-terminal registered as a
# COM port), and a LAN port another program holds; set while tolvane.exe runs.
# Usage: config_wine_test.sh SOURCE_DIR BIN_DIR PREFIX
set -u
source_dir=$1 bin=$2 prefix=$3
runner=$source_dir/cmake/wine-run.sh
com_port=$source_dir/tests/support/com_port.sh
work=$(mktemp -d)
pids=()
. "$source_dir/tests/support/private_display.sh"
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do timeout 10 tail --pid="$pid" -f /dev/null; done
    "$com_port" "$prefix" COM58 --remove
    WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1
    stop_private_display
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
export TOLVANE_WINEPREFIX=$prefix
# The display first: the wine server keeps the display it was started with.
start_private_display 1024 768 "$work" || { echo "Xvfb did not start"; exit 1; }
timeout 300 "$runner" cmd /c exit >/dev/null 2>&1

config() {
    local status=0
    (cd "$work" && exec timeout 120 "$runner" "$bin/tolvane-config.exe" "$@") >"$work/raw" \
        2>"$work/err" || status=$?
    tr -d '\r' <"$work/raw" >"$work/out"
    return $status
}
# The output joined into one line, so that wrapped sentences match.
said() { tr '\n' ' ' <"$work/out" | sed 's/  */ /g' | grep -qF -- "$1"; }

# A terminal to stand for the device, and a listener to hold a port, both
# kept open until the end.
mkfifo "$work/hold"
python3 -c 'import os, pty, sys
master, slave = pty.openpty()
print(os.ttyname(slave), flush=True)
sys.stdin.read()' <"$work/hold" >"$work/tty" 2>/dev/null &
pids+=($!)
python3 -c 'import socket, sys
s = socket.socket()
s.bind(("0.0.0.0", 0))
s.listen(1)
print(s.getsockname()[1], flush=True)
sys.stdin.read()' <"$work/hold" >"$work/port" 2>/dev/null &
pids+=($!)
exec 9>"$work/hold" # the holders end when this closes
for file in tty port; do
    for _ in $(seq 1 100); do [ -s "$work/$file" ] && break; sleep 0.1; done
done
tty=$(cat "$work/tty") busy_port=$(cat "$work/port")
[ -n "$tty" ] && [ -n "$busy_port" ] || { echo "no terminal or listener"; exit 1; }

echo "-- check: no settings file, the default port COM19 missing"
config check
status=$?
[ "$status" = 1 ] || fail "check without a file ended with $status, not 1"
said "no settings file" || fail "check does not say that no file was found"
said "comPort=COM19" || fail "check does not list the settings in effect"
said "cannot open the serial port COM19" || fail "check does not say the port does not open"
said "The port does not exist" || fail "check does not say why the port does not open"

echo "-- set without tolvane.exe: no note about it"
config set comPort=COM58 deviceMode=C lanEnabled=1 lanPort="$busy_port" ||
    fail "set ended with $?"
! grep -q "tolvane.exe is running" "$work/err" || fail "set names a tolvane.exe that does not run"

echo "-- check: a present COM port, a LAN port in use"
"$com_port" "$prefix" COM58 "$tty"
config check
status=$?
[ "$status" = 1 ] || fail "check with a taken LAN port ended with $status, not 1"
said "settings read from" || fail "check does not name the file it read"
said "the serial port COM58 opens" || fail "check does not say that COM58 opens"
said "port $busy_port cannot be listened on" || fail "check does not say the LAN port is taken"

echo "-- check: everything in order"
free_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("0.0.0.0", 0)); print(s.getsockname()[1])')
config set lanPort="$free_port"
config check
status=$?
[ "$status" = 0 ] || fail "check with a present port and a free LAN port ended with $status, not 0"
said "is free" || { cat "$work/out"; fail "check does not say the LAN port is free"; }

echo "-- a port typed as a bare number gets the COM name as a hint"
config set comPort=3 || fail "set comPort=3 ended with $?"
grep -q "a serial port is named COM3, not 3" "$work/err" || fail "set gives no hint to write COM3"
config check
said "comPort=3 is only a number: a serial port is named COM3" || fail "check gives no hint to write COM3"
config set comPort=COM58 >/dev/null

echo "-- help and errors quote as cmd needs"
config --help
grep -qF 'tolvane-config set "button2=press:PageDown long:Shift+F5 double:B"' "$work/out" ||
    fail "--help does not quote its example with double quotes"
config set "'button2=press:B" "long:C'"
[ $? = 2 ] || fail "a name with a single quote was not a usage error"
tr -d '\r' <"$work/err" | tr '\n' ' ' | sed 's/  */ /g' |
    grep -qF "cmd passes single quotes on as part of the text: quote with double quotes" ||
    fail "a name with a single quote gets no advice to use double quotes"

echo "-- set while tolvane.exe runs"
(cd "$work" && exec "$runner" "$bin/tolvane.exe") >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 300); do
    xdotool search --class tolvane.exe >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool search --class tolvane.exe >/dev/null 2>&1 || fail "tolvane.exe showed no window"
config set scrollSpeed=8 || fail "set while tolvane.exe runs ended with $?"
grep -q "a tolvane.exe is running" "$work/err" || fail "set says nothing of the running tolvane.exe"
grep -q "next OK" "$work/err" || fail "set does not say that the dialog will write its values back"
grep -qx 8 <(sed -n 3p "$work/tolv.conf" | tr -d '\r') || fail "set did not write while tolvane.exe runs"
config --file other.conf set scrollSpeed=9 || fail "set --file other.conf ended with $?"
! grep -q "tolvane.exe is running" "$work/err" ||
    fail "set warns of tolvane.exe for a file that tolvane.exe does not read"
WINEPREFIX=$prefix timeout 30 wine taskkill /IM tolvane.exe >/dev/null 2>&1

[ "$failures" = 0 ] || { echo "$failures failures"; cat "$work/out" "$work/err"; exit 1; }
echo "all passed"
