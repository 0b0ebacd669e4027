#!/usr/bin/env bash
# Installs the Debian 12 packages Zembrola needs to build, run and test, but only those
# that are missing; the package index is refreshed only when something must be installed.
set -euo pipefail

packages=(
    # build
    cmake g++ make pkg-config ccache clang-format
    # libraries
    qt6-base-dev qt6-webengine-dev qt6-qpa-plugins librtaudio-dev libsndfile1-dev libpulse-dev
    libgtest-dev libgl-dev
    # the sanitizer builds and the fuzz targets
    clang libclang-rt-14-dev
    # headless runs, tests and the screenshot
    xvfb xauth pulseaudio pulseaudio-utils fonts-dejavu-core imagemagick x11-utils
)

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "deps: this is not a Debian-based system (no dpkg-query)." >&2
    echo "deps: install the equivalents of: ${packages[*]}" >&2
    exit 1
fi

missing=()
for p in "${packages[@]}"; do
    status="$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)"
    if [[ "$status" != "installed" ]]; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    echo "deps: all ${#packages[@]} required packages are installed"
    exit 0
fi

echo "deps: missing packages: ${missing[*]}"
if [[ $EUID -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "deps: not root and no sudo; as root, run:" >&2
    echo "    apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"
echo "deps: installed ${missing[*]}"
