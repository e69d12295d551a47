#!/usr/bin/env bash
# The Windows pointer on two monitors under wine: one wide Xvfb screen split
# into two RandR 1.5 monitors (split_monitors), which wine's X11 driver sees
# through Xinerama when it is told not to use XRandR (UseXRandR=N). Two
# layouts: the primary monitor on the left, then on the right (the other one
# at negative virtual coordinates). The cursor is read back from the X server.
# tolvane-config show lists the monitors by the numbers mouseScreen takes.
# Usage: monitors_wine_test.sh WINE_RUNNER TEST_EXE PREFIX SPLIT_MONITORS CONFIG_EXE
# Exit 77 (skipped) when Xvfb, xdotool or the native split_monitors is missing.
set -u
runner=$1 exe=$2 prefix=$3 split=$4 config=$5
command -v Xvfb >/dev/null && command -v xdotool >/dev/null && [ -x "$split" ] || {
    echo "Xvfb, xdotool or $split is missing (build the native preset first)"
    exit 77
}
tmp=$(mktemp -d)
. "$(dirname "$0")/../support/private_display.sh"
cleanup() {
    WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1
    stop_private_display
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "$*"
    exit 1
}

# -noreset (the script's default): the monitors stay when split_monitors leaves.
start_private_display 3200 1080 "$tmp" || fail "Xvfb did not start"
export TOLVANE_WINEPREFIX=$prefix
timeout 300 "$runner" reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /t REG_SZ /d N /f \
    >/dev/null 2>&1 || fail "the registry of the prefix could not be set"

# layout SPLIT... EXPECTED_MONITORS X Y: monitor 2 is expected at X,Y on the X screen.
layout() {
    local x=${*: -2:1} y=${*: -1} expected=${*: -3:1}
    "$split" "${@:1:$#-3}" || fail "the monitors could not be set"
    # Wine reads the monitors when its server starts.
    WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1
    TOLVANE_EXPECT_MONITORS=$expected TOLVANE_LEAVE_ON=2 timeout 300 "$runner" "$exe" \
        --gtest_filter=WindowsPointer.MouseScreenTakesEachMonitor || fail "the test failed"
    wait_for_x_pointer "$x" "$y" || fail "expected the X pointer at x:$x y:$y"
}

layout '1920x1080+0+0*' 1280x1024+1920+0 \
    "1 1920x1080 at 0,0 (primary), 2 1280x1024 at 1920,0" 2560 512
layout 1280x1024+0+0 '1920x1080+1280+0*' \
    "1 1920x1080 at 0,0 (primary), 2 1280x1024 at -1280,0" 640 512
(cd "$tmp" && timeout 300 "$runner" "$config" show) >"$tmp/show.txt" 2>&1 ||
    fail "tolvane-config show failed: $(cat "$tmp/show.txt")"
tr -d '\r' <"$tmp/show.txt" | grep -q '^  2  1280x1024 at -1280,0$' ||
    fail "tolvane-config show does not list the monitors: $(cat "$tmp/show.txt")"
