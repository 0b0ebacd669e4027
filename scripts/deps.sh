#!/usr/bin/env bash
# Installs the Debian 12 packages that one purpose needs, but only those that are missing;
# the package index is refreshed only when something must be installed.
#
#   deps.sh run    building and running the program (scripts/run.sh)
#   deps.sh test   everything for the tests, sanitizers, fuzzing, screenshot and package
#                  (scripts/test.sh, scripts/screenshot.sh)
set -euo pipefail

purpose="${1:-test}"

# One list per purpose, so that each can grow on its own.
build_packages=(cmake g++ make pkg-config)
library_packages=(qt6-base-dev qt6-webengine-dev librtaudio-dev libsndfile1-dev libpulse-dev
    libgl-dev)
# The window's platform plugin and its face; pactl only asks whether a sound server runs.
run_packages=(qt6-qpa-plugins fonts-dejavu-core pulseaudio-utils)
# Only without a display: a virtual one.
headless_packages=(xvfb xauth)
# Only where no sound server is installed or running: one for the null sink.
sound_server_packages=(pulseaudio)
test_packages=(
    ccache clang-format libgtest-dev
    # the sanitizer builds and the fuzz targets
    clang libclang-rt-14-dev
    # private display and sound server for the tests, the screenshot
    xvfb xauth pulseaudio imagemagick x11-utils
    # checking the installed files and building the package
    desktop-file-utils appstream shared-mime-info dpkg-dev file
)

installed() {
    [[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)" == installed ]]
}

# A sound server of any kind on this machine: running (its socket answers) or installed.
has_sound_server() {
    local p
    for p in pulseaudio pipewire-pulse pipewire jackd2 jackd1; do
        installed "$p" && return 0
    done
    command -v pactl >/dev/null 2>&1 && timeout 5 pactl info >/dev/null 2>&1 && return 0
    [[ -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/pulse/native" ]]
}

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "deps: this is not a Debian-based system (no dpkg-query)." >&2
    echo "deps: install the equivalents of: ${build_packages[*]} ${library_packages[*]}" \
        "${run_packages[*]}" >&2
    exit 1
fi

packages=("${build_packages[@]}" "${library_packages[@]}" "${run_packages[@]}")
case "$purpose" in
    run)
        if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
            packages+=("${headless_packages[@]}")
        fi
        # Never a second sound server beside the user's own (PipeWire, PulseAudio, JACK).
        if ! has_sound_server; then
            packages+=("${sound_server_packages[@]}")
        fi
        ;;
    test) packages+=("${test_packages[@]}") ;;
    *)
        echo "deps: unknown purpose '$purpose' (run or test)" >&2
        exit 2
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
# shellcheck disable=SC2207
missing=($(printf '%s\n' "${missing[@]}" | awk 'NF && !seen[$0]++'))

if ((${#missing[@]} == 0)); then
    echo "deps: all packages for '$purpose' are installed"
    exit 0
fi

echo "deps: missing packages for '$purpose': ${missing[*]}"
if [[ $EUID -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "deps: not root and no sudo; as root, run:" >&2
    echo "    apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
fi

pipewire_pulse_before=0
installed pipewire-pulse && pipewire_pulse_before=1

"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"
echo "deps: installed ${missing[*]}"

# The tests start their own private PulseAudio server. Where PipeWire serves the desktop,
# the package's login units would start a second server beside it at the next login:
# keep them masked, so the desktop's sound stays PipeWire's.
if ((pipewire_pulse_before)) && [[ " ${missing[*]} " == *" pulseaudio "* ]] &&
    command -v systemctl >/dev/null 2>&1; then
    "${as_root[@]}" systemctl --global mask pulseaudio.service pulseaudio.socket || true
    echo "deps: PipeWire serves this desktop; pulseaudio's login units are masked" \
        "(for the tests' private server only)"
fi
