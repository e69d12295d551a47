#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing tolvane needs.
# Skips apt entirely when everything is already there.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format
    libgtest-dev libbenchmark-dev libssl-dev libx11-dev libxtst-dev libxcb-xtest0-dev
    libxcb-randr0-dev libxrandr-dev
    g++-mingw-w64-x86-64-posix wine wine64
    xvfb xauth xdotool x11-utils socat imagemagick fonts-noto-cjk
    python3 python3-websockets locales procps psmisc
    chromium nodejs npm
    mosquitto mosquitto-clients libmosquitto-dev liblo-dev liblo-tools pkg-config
)

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

if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# A comma-decimal locale, so that the number text tests can prove they ignore it.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
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
