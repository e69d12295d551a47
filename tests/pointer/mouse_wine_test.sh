#!/usr/bin/env bash
# Runs the Windows pointer test under wine on a private Xvfb and then reads
# the X pointer back: SetCursorPos must move the real one.
# Usage: mouse_wine_test.sh WINE_RUNNER TEST_EXE PREFIX
# Exit 77 (skipped) when Xvfb or xdotool is missing.
set -u
runner=$1 exe=$2 prefix=$3
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || {
    echo "Xvfb or xdotool is not installed"
    exit 77
}
width=1111 height=777
tmp=$(mktemp -d)
. "$(dirname "$0")/../support/private_display.sh"
cleanup() {
    WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1
    stop_private_display
    rm -rf "$tmp"
}
trap cleanup EXIT

start_private_display "$width" "$height" "$tmp" || {
    echo "Xvfb did not start"
    exit 1
}
# A prefix of its own: the screen size and the pointer belong to this display.
export TOLVANE_WINEPREFIX=$prefix

TOLVANE_EXPECT_SCREEN=${width}x${height} timeout 400 "$runner" "$exe" || exit 1

TOLVANE_PLACE_CURSOR=317,211 timeout 120 "$runner" "$exe" \
    --gtest_filter=WindowsPointer.LeavesCursorForTheXServer || exit 1
wait_for_x_pointer 317 211 && exit 0
echo "expected the X pointer at x:317 y:211"
exit 1
