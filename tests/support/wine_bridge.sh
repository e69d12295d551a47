# Sourced by the wine tests that run a cross-built program against native
# helpers: a scratch folder ($tmp), the native processes to end ($pids), the
# COM ports to unregister and the prefix's wineserver to stop at exit, and
# fail, which shows every *.txt the test wrote there.
# Before sourcing set: here (the test's folder), runner (the wine runner),
# prefix (the wine prefix) and com_ports (the COM names the test registers).
# A test may define wine_test_cleanup for what else it started.

# Makes $tmp, named after $1 (short: a link in it is a COM port's target).
wine_test_scratch() {
    tmp=$(mktemp -d "/tmp/tolv-$1-XXXXXX")
    pids=()
    trap wine_test_end EXIT
}

# Boots the prefix first: a first start may rebuild dosdevices.
wine_test_boot() {
    export TOLVANE_WINEPREFIX=$prefix
    timeout 300 "$runner" cmd /c exit >/dev/null 2>&1
}

wine_test_start() {
    wine_test_scratch "$1"
    wine_test_boot
}

wine_test_end() {
    local pid port
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do timeout 10 tail --pid="$pid" -f /dev/null; done
    for port in $com_ports; do "$here/../support/com_port.sh" "$prefix" "$port" --remove; done
    WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1
    if declare -F wine_test_cleanup >/dev/null; then wine_test_cleanup; fi
    rm -rf "$tmp"
}

fail() {
    echo "FAIL: $*"
    local f
    for f in "$tmp"/*.txt; do
        echo "--- $f"
        cat "$f"
    done
    exit 1
}
