#!/usr/bin/env bash
# Installs every dependency, builds every configuration and runs all tests:
# native (as an unprivileged user, and as root only the tests labelled root,
# which try more as root; all of them as root when no such user can run them),
# AddressSanitizer+UBSan,
# ThreadSanitizer, the fuzzers for a short bounded time, and the Windows build
# under wine on a virtual X display; then the packages, built from those trees
# and checked as a user meets them. The unprivileged run needs a clone that
# other users may enter (not one in root's home): it is skipped, with where to
# clone instead, when its user cannot.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

# Said now rather than after the builds; said again at its step.
unprivileged=skip
if [ "$(id -u)" -eq 0 ]; then
    status=0
    scripts/ctest-unprivileged.sh --reachable || status=$?
    case $status in
    0) unprivileged=run ;;
    77) ;;
    *) exit "$status" ;;
    esac
fi

jobs=$(nproc)
fuzz_seconds=${TOLVANE_FUZZ_SECONDS:-20}

step() { printf '\n==== %s ====\n' "$*"; }

for preset in native asan tsan; do
    step "$preset: build and test"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    if [ "$preset" = native ] && [ "$unprivileged" = run ]; then
        # CI runs as root, which may open any port and write any file: the
        # suite runs once, as a user, and as root only what root tries more of.
        ctest --preset "$preset" -j "$jobs" -L root
        step "native: the tests as an unprivileged user"
        scripts/ctest-unprivileged.sh build/native -j "$jobs" --output-on-failure
        continue
    fi
    ctest --preset "$preset" -j "$jobs"
    if [ "$preset" = native ] && [ "$(id -u)" -eq 0 ]; then
        step "native: the tests as an unprivileged user: SKIPPED"
        scripts/ctest-unprivileged.sh --reachable || true
    fi
done

step "fuzz: ${fuzz_seconds}s per target"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
for fuzzer in build/fuzz/bin/*_fuzzer; do
    name=$(basename "$fuzzer")
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
    echo "-- $name"
    "$fuzzer" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus" 2>&1 | tail -n 2
done

step "windows: cross build, tests under wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp -noreset" scripts/ctest-wine.sh -j "$jobs"

step "packages: the Debian package and the Windows zip, built from the trees above and checked"
scripts/package.sh --check

if [ "$(id -u)" -eq 0 ] && [ "$unprivileged" = skip ]; then
    step "all tests passed, but not as an unprivileged user (see its step)"
else
    step "all tests passed"
fi
