#!/usr/bin/env bash
# Runs the Windows overlay test under wine on a private Xvfb with a
# compositor (xcompmgr), and reads the X screen back while the spotlight is
# shown: the spot's centre untouched, a far pixel darkened. Then the windows
# over two monitors, one at negative coordinates (split_monitors, as the
# pointer's monitor test does).
# Usage: overlay_wine_test.sh WINE_RUNNER TEST_EXE PREFIX [SPLIT_MONITORS]
# Exit 77 (skipped) when Xvfb or ImageMagick's import is missing.
set -u
runner=$1 exe=$2 prefix=$3 split=${4:-}
command -v Xvfb >/dev/null && command -v import >/dev/null || {
    echo "Xvfb or import (imagemagick) is not installed"
    exit 77
}
tmp=$(mktemp -d)
. "$(dirname "$0")/../support/private_display.sh"
compositor=
cleanup() {
    [ -n "$compositor" ] && kill "$compositor" 2>/dev/null
    WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1
    stop_private_display
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "$*"
    exit 1
}

start_private_display 1024 768 "$tmp" || fail "Xvfb did not start"
export TOLVANE_WINEPREFIX=$prefix
if command -v xcompmgr >/dev/null; then
    xcompmgr >/dev/null 2>&1 &
    compositor=$!
else
    echo "xcompmgr is not installed: wine shows the layered window unblended"
fi

# The test shows the spot, says so through a file and waits for ours.
TOLVANE_EXPECT_MONITORS="0,0,1024,768" TOLVANE_SHOWN_MARK="Z:$tmp/shown" \
    TOLVANE_TAKEN_MARK="Z:$tmp/taken" timeout 400 "$runner" "$exe" >"$tmp/test.out" 2>&1 &
test_pid=$!
for _ in $(seq 1 3000); do
    [ -f "$tmp/shown" ] || ! kill -0 "$test_pid" 2>/dev/null && break
    sleep 0.1
done
# The spot at 200,150 of the window below (grey 250), moved there from
# 600,400; far pixels and the first spot under 60 %
# black: 100 where they are blended, 0 where wine cannot blend. The
# compositor paints in its own time: screenshots until it has, for 10 s.
centre=none far=none first=none
if [ -f "$tmp/shown" ]; then
    for _ in $(seq 1 20); do
        import -window root "$tmp/root.png" || break
        read -r centre far first < <(convert "$tmp/root.png" -format \
            '%[fx:int(255*p{200,150}.r+0.5)] %[fx:int(255*p{900,700}.r+0.5)] %[fx:int(255*p{600,400}.r+0.5)]\n' info:)
        [ "$centre" -ge 245 ] && [ "$far" -le 104 ] && [ "$first" -le 104 ] && break
        sleep 0.5
    done
    touch "$tmp/taken"
fi
wait "$test_pid"
status=$?
tr -d '\r' <"$tmp/test.out"
[ "$status" -eq 0 ] || fail "the test failed"
[ "$centre" != none ] || fail "no screenshot while the overlay was shown"
echo "screen: spot centre $centre, far pixel $far, the spot before the move $first"
[ "$centre" -ge 245 ] || fail "the spot's centre is not the window below ($centre)"
if [ -n "$compositor" ]; then
    for value in "$far" "$first"; do
        [ "$value" -ge 96 ] && [ "$value" -le 104 ] || fail "a far pixel is not dimmed by 60 % ($value)"
    done
else
    [ "$far" -lt 245 ] && [ "$first" -lt 245 ] || fail "a far pixel is not darkened ($far, $first)"
fi

[ -x "$split" ] || {
    echo "no native split_monitors: the two-monitor layout is not tried"
    exit 0
}
WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1
[ -n "$compositor" ] && kill "$compositor" 2>/dev/null
stop_private_display
compositor=
rm -f "$tmp/display"
start_private_display 3200 1080 "$tmp" || fail "Xvfb did not start"
timeout 300 "$runner" reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /t REG_SZ /d N /f \
    >/dev/null 2>&1 || fail "the registry of the prefix could not be set"
# The primary on the right: the other monitor lies at negative x.
"$split" 1280x1024+0+0 '1920x1080+1280+0*' || fail "the monitors could not be set"
WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1
TOLVANE_EXPECT_MONITORS="0,0,1920,1080;-1280,0,1280,1024" timeout 300 "$runner" "$exe" \
    --gtest_filter=WindowsOverlay.OneClickThroughWindowOverEachMonitor || fail "the test failed"
