#!/usr/bin/env bash
# Installs the Debian 12 packages that tolvane needs, by set:
#   build    what building every native program needs (the main job,
#            scripts/demo.sh): compiler, cmake, ninja, the OpenSSL, X, evdev,
#            Wayland and mosquitto headers
#   package  the build set and what scripts/package.sh adds: the Windows cross
#            compiler, python3, help2man, dpkg-dev, file
#   test     everything scripts/test.sh (and package.sh --check) needs: the
#            sets above, the test tool chain (GoogleTest, sanitizers, fuzzers,
#            wine, Xvfb, a browser, lintian, liblo for the OSC test), a
#            comma-decimal locale, and the web tests' npm packages
# Asks for nothing and needs no root when everything is already there;
# otherwise run it as root, or as a user who may use sudo.
#
# Usage: scripts/install-deps.sh [build|package|test]   (default: test)
set -euo pipefail

usage() {
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
}

set_name=${1:-test}
case "$set_name" in
-h | --help)
    usage
    exit 0
    ;;
build | package | test) ;;
*)
    echo "install-deps.sh: unknown set '$set_name' (build, package or test)" >&2
    echo "Try 'scripts/install-deps.sh --help'." >&2
    exit 2
    ;;
esac
[ $# -le 1 ] || {
    echo "install-deps.sh: one set at a time" >&2
    echo "Try 'scripts/install-deps.sh --help'." >&2
    exit 2
}

# One package a line, so that additions merge cleanly.
build_packages=(
    cmake
    ninja-build
    g++
    libssl-dev
    libx11-dev
    libxcb-xtest0-dev
    libxcb-randr0-dev
    libxcb-shape0-dev
    libxcb-xkb-dev
    libxkbcommon-x11-dev
    xkb-data
    libevdev-dev
    libwayland-dev
    libmosquitto-dev
    pkg-config
)
package_packages=(
    g++-mingw-w64-x86-64-posix
    python3
    dpkg-dev
    file
    help2man
)
test_packages=(
    clang
    libclang-rt-14-dev
    clang-format
    libgtest-dev
    libbenchmark-dev
    libxtst-dev
    libxrandr-dev
    wine
    wine64
    xvfb
    xauth
    x11-xkb-utils
    xdotool
    xcompmgr
    x11-utils
    socat
    imagemagick
    fonts-noto-cjk
    python3-websockets
    locales
    procps
    psmisc
    chromium
    nodejs
    npm
    mosquitto
    mosquitto-clients
    liblo-dev
    liblo-tools
    lintian
    systemd
    qemu-system-x86
    weston
    sway
    grim
    busybox-static
    cpio
)

packages=("${build_packages[@]}")
[ "$set_name" = build ] || packages+=("${package_packages[@]}")
[ "$set_name" = test ] && packages+=("${test_packages[@]}")

missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# Node and npm may come from elsewhere than Debian; take them where they are.
if command -v node >/dev/null && command -v npm >/dev/null; then
    missing=("${missing[@]/nodejs}")
    missing=("${missing[@]/npm}")
fi
missing=($(printf '%s\n' "${missing[@]}" | grep -v '^$' || true))

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Without root and without sudo nothing can be installed: say how instead.
need_root() {
    [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null && return 0
    echo "install-deps.sh: $1 needs root, and sudo is not installed." >&2
    echo "Run it as root: su -c '$0 $set_name'" >&2
    exit 1
}

if [ ${#missing[@]} -gt 0 ]; then
    need_root "installing ${missing[*]}"
    echo "Installing ($set_name set): ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
fi

[ "$set_name" = test ] || exit 0

# A comma-decimal locale, so that the number text tests can prove they ignore it.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    need_root "making the de_DE.UTF-8 locale"
    as_root sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen ||
        echo 'de_DE.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
fi

# The packages of web/package-lock.json: the "ws" WebSocket library for the
# interoperability tests; three.js, uPlot and esbuild for the live view page;
# puppeteer-core to drive Debian's Chromium in its tests. Installed again
# whenever the lock file is newer than the last install.
web=$(dirname "$0")/../web
if command -v npm >/dev/null && { [ ! -f "$web/node_modules/.package-lock.json" ] ||
    [ "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; }; then
    (cd "$web" && npm ci --no-audit --no-fund)
fi
