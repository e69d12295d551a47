#!/usr/bin/env bash
# Checks tolvane-decode against the independent model of the sample path, on
# the shipped capture and on a freshly generated one, for several settings.
# Usage: decode_check.sh SOURCE_DIR DECODER [EMULATOR...]
set -euo pipefail
source_dir=$1
decoder=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

python3 "$source_dir/samples/make_capture.py" "$scratch/fresh.txt"
cmp "$scratch/fresh.txt" "$source_dir/samples/capture.txt"

status=0
for options in "" "--json" "--lan-averaging 2" "--json --lan-averaging 7 --acceleration" \
    "--lan-averaging 255" "--json --lan-averaging 32"; do
    python3 "$source_dir/tests/reference/decode_reference.py" $options "$scratch/fresh.txt" \
        >"$scratch/expected.txt"
    "$@" "$decoder" $options "$scratch/fresh.txt" | tr -d '\r' >"$scratch/actual.txt"
    if cmp -s "$scratch/expected.txt" "$scratch/actual.txt"; then
        echo "same replies with options: ${options:-(none)}"
    else
        echo "DIFFERENT replies with options: ${options:-(none)}"
        diff "$scratch/expected.txt" "$scratch/actual.txt" | head -n 10
        status=1
    fi
done
# Bad options are refused with status 2, unreadable files with status 1.
set +e
"$@" "$decoder" --lan-averaging 0 "$scratch/fresh.txt" >/dev/null 2>&1
[ $? -eq 2 ] || { echo "--lan-averaging 0 was not refused"; status=1; }
"$@" "$decoder" "$scratch/missing.txt" >/dev/null 2>&1
[ $? -eq 1 ] || { echo "a missing file was not refused"; status=1; }
exit $status
