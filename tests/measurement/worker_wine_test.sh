#!/usr/bin/env bash
# The Windows headless bridge under wine, against the simulator registered as
# a COM port: one plain and one WebSocket session with the native probe, each
# ended by Ctrl+C (SIGINT, which wine hands to the console handler). In the
# WebSocket session the air mouse is on as well: the device points straight
# ahead, so the pointer must land in the middle of the screen. The plain
# session also records the device lines, which must be whole capture records.
# Usage: worker_wine_test.sh WINE_RUNNER HEADLESS_EXE DEVSIM PROBE PREFIX
# Exit 77 (skipped) when the native simulator or probe is not built, or when
# Xvfb or xdotool is missing.
set -u
runner=$1 exe=$2 devsim=$3 probe=$4 prefix=$5
here=$(cd "$(dirname "$0")" && pwd)
for tool in "$devsim" "$probe"; do
    [ -x "$tool" ] || {
        echo "no native $(basename "$tool") at $tool"
        exit 77
    }
done
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || {
    echo "Xvfb or xdotool is not installed"
    exit 77
}
width=1920 height=1080
# A short folder: the link is the COM port's target.
com_ports="COM19"
. "$here/../support/wine_bridge.sh"
. "$here/../support/private_display.sh"
wine_test_cleanup() { stop_private_display; }
wine_test_scratch wine

# Waits (bounded) until the file holds the line.
await_line() {
    local file=$1 line=$2
    for _ in $(seq 1 300); do
        tr -d '\r' <"$file" 2>/dev/null | grep -qxF "$line" && return 0
        sleep 0.1
    done
    return 1
}

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

start_private_display "$width" "$height" "$tmp" || fail "Xvfb did not start"
wine_test_boot

mkfifo "$tmp/devsim.fifo"
"$devsim" --link "$tmp/dev" --quat 0,0,0,1 --buttons 00000 >"$tmp/devsim.fifo" &
pids+=($!)
read -r -t 10 _ <"$tmp/devsim.fifo" || fail "the simulator did not start"
cat "$tmp/devsim.fifo" >/dev/null &
"$here/../support/com_port.sh" "$prefix" COM19 "$tmp/dev"

session() {
    local ws=$1 name=$2 mouse=$3 record=("${@:4}") port
    port=$(free_port)
    printf 'COM19\n1.000000\n4\n32\n1\n%s\n%s\n0\n1\n%s\n0\n' "$port" "$mouse" "$ws" \
        >"$tmp/tolv.conf"
    if [ "$mouse" = 1 ]; then xdotool mousemove 5 5 || fail "$name: xdotool failed"; fi
    (cd "$tmp" && exec "$runner" "$exe" "${record[@]}" >"$tmp/$name-log.txt" \
        2>"$tmp/$name-err.txt") &
    local bridge=$!
    pids+=($bridge)
    local args=(--port "$port" --count 20 --quiet --connect-wait 120)
    [ "$ws" = 1 ] && args+=(--websocket)
    timeout 180 "$probe" "${args[@]}" >"$tmp/$name-probe.txt" || fail "$name: probe failed"
    grep -qxF "replies 20, no reply 0" "$tmp/$name-probe.txt" || fail "$name: replies missing"
    await_line "$tmp/$name-log.txt" "Restart...." || fail "$name: no restart after the client left"
    # Read while the bridge still runs: nothing but it moved the pointer from 5,5.
    if [ "$mouse" = 1 ]; then
        local location
        location=$(xdotool getmouselocation) || fail "$name: no pointer location"
        case "$location" in
        "x:$((width / 2)) y:$((height / 2)) "*) ;;
        *) fail "$name: pointer not in the middle of the screen: $location" ;;
        esac
    fi

    kill -INT "$bridge"
    timeout 30 tail --pid="$bridge" -f /dev/null || fail "$name: Ctrl+C did not end the bridge"
    wait "$bridge"
    local status=$?
    [ "$status" = 0 ] || fail "$name: exit status $status"

    local expected="open serial (COM19) :  success
enable lan"
    [ "$ws" = 1 ] && expected="$expected
enable websocket"
    [ "$mouse" = 1 ] && expected="$expected
enable mouse"
    expected="$expected
OpenSocket port($port) : success
ReadSocket error
Restart...."
    local got
    got=$(tr -d '\r' <"$tmp/$name-log.txt" | head -n "$(echo "$expected" | wc -l)")
    [ "$got" = "$expected" ] || fail "$name: log lines differ"
    echo "$name: $(sed -n 2p "$tmp/$name-probe.txt")"
}

session 0 plain 0 --record plain-capture.cap
# The header, then one whole 76-byte record per line polled (20 or more).
head -n 1 "$tmp/plain-capture.cap" | grep -qxF "# tolvane capture 1" || fail "plain: no capture header"
records=$(grep -c '^[0-9]*\.[0-9]\{6\} TOL,.*,[0-9][0-9]\\r$' "$tmp/plain-capture.cap")
[ "$records" -ge 20 ] && [ "$records" = "$(($(wc -l <"$tmp/plain-capture.cap") - 1))" ] ||
    fail "plain: $records whole records in the capture"
session 1 websocket 1
echo "both sessions passed"
