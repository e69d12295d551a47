#!/usr/bin/env bash
# The main job until the bridge runs end to end: decode a captured stretch of
# device traffic into the LAN replies the bridge sends for it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target tolvane-decode
echo "Plain replies (LAN averaging 1):"
build/native/tools/decode/tolvane-decode samples/capture.txt
echo
echo "JSON replies (LAN averaging 4):"
build/native/tools/decode/tolvane-decode --json --lan-averaging 4 samples/capture.txt
