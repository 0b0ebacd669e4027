#!/usr/bin/env bash
# Builds Zembrola, starts it on a private virtual display (Xvfb) with a PulseAudio null
# sink, and captures its main window, and only that window, into docs/screenshot.png.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib/build.sh"
source "$here/lib/session.sh"

out="${1:-$ZB_ROOT/docs/screenshot.png}"

bash "$here/deps.sh"
zb_build "$ZB_ROOT/build" Release -DZEMBROLA_TESTS=OFF -DZEMBROLA_BENCH=OFF
program="$ZB_ROOT/build/bin/zembrola"

app_pid=""
cleanup() {
    if [[ -n "$app_pid" ]]; then
        zb_stop_pid "$app_pid"
    fi
    app_pid=""
    stop_all
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Always a virtual display, also on a desktop: the picture then does not depend on the
# user's theme, window manager or screen.
start_virtual_display
start_null_sink

# The program registers its document type at start; keep that out of the user's home.
use_private_home "$ZB_SESSION_DIR/home"
ensure_runtime_dir

"$program" >"$ZB_SESSION_DIR/zembrola.log" 2>&1 &
app_pid=$!

# Prints the id of the viewable window titled "Zembrola" (Qt also keeps a hidden 1 x 1
# window of that name, so the title alone is not enough).
viewable_window() {
    local id
    for id in $(xwininfo -root -tree 2>/dev/null |
        sed -n 's/^ *\(0x[0-9a-fA-F]*\) "Zembrola": .*/\1/p'); do
        if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            echo "$id"
            return 0
        fi
    done
    return 1
}
if ! zb_wait_for 300 viewable_window; then
    echo "The window \"Zembrola\" did not appear within 30 s; the program's output:" >&2
    cat "$ZB_SESSION_DIR/zembrola.log" >&2 || true
    exit 1
fi
id="$(viewable_window)"
# Mapped is not yet painted: give the first paint a moment.
sleep 2

mkdir -p "$(dirname "$out")"
import -window "$id" "$ZB_SESSION_DIR/shot.png"
# No time stamps or other metadata: the same window gives the same file.
convert "$ZB_SESSION_DIR/shot.png" -strip "$out"
echo "Wrote $out ($(identify -format '%w x %h' "$out") px, window $id)"
