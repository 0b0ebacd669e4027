#!/usr/bin/env bash
# Builds Zembrola's screenshot tool and draws the main window, with the four demo samples
# loaded, on a private virtual display (Xvfb) with a PulseAudio null sink, into
# docs/screenshot.png.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib/build.sh"
source "$here/lib/session.sh"

out="${1:-$ZB_ROOT/docs/screenshot.png}"

bash "$here/deps.sh" test
zb_build "$ZB_ROOT/build" Release -DZEMBROLA_TESTS=OFF -DZEMBROLA_BENCH=OFF
cmake --build "$ZB_ROOT/build" -j "${ZB_JOBS:-2}" --target zembrola_screenshot

trap stop_all EXIT
trap 'exit 130' INT TERM HUP

# Always a virtual display, also on a desktop: the picture then does not depend on the
# user's theme, window manager or screen.
start_virtual_display
start_null_sink

# The window registers its document type at start; keep that out of the user's home.
use_private_home "$ZB_SESSION_DIR/home"
ensure_runtime_dir

mkdir -p "$(dirname "$out")"
"$ZB_ROOT/build/bin/zembrola_screenshot" "$out"
echo "Wrote $out ($(identify -format '%w x %h' "$out") px)"
