#!/usr/bin/env bash
# Installs what is missing, builds Zembrola (Release, into build/) and starts it.
# Without a display it starts a virtual one (Xvfb) and a PulseAudio null sink, runs the
# program on them until interrupted (Ctrl-C), then stops both again.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib/build.sh"
source "$here/lib/session.sh"

bash "$here/deps.sh" run
zb_build "$ZB_ROOT/build" Release -DZEMBROLA_TESTS=OFF -DZEMBROLA_BENCH=OFF
program="$ZB_ROOT/build/bin/zembrola"

# The web engine's sandbox refuses to run as root.
if [[ $EUID -eq 0 ]]; then
    export QTWEBENGINE_DISABLE_SANDBOX="${QTWEBENGINE_DISABLE_SANDBOX:-1}"
fi

app_pid=""
cleanup() {
    if [[ -n "$app_pid" ]] && kill -0 "$app_pid" 2>/dev/null; then
        echo "Stopping Zembrola (pid $app_pid)"
        zb_stop_pid "$app_pid"
    fi
    app_pid=""
    stop_all
}
trap cleanup EXIT
trap 'echo; echo "Interrupted."; exit 130' INT TERM HUP

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "=================================================================="
    echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set)."
    echo "Starting a virtual display (Xvfb) and a PulseAudio null sink, and"
    echo "running Zembrola on them: its window and sound are not visible or"
    echo "audible here. Press Ctrl-C to stop it."
    echo "=================================================================="
    start_virtual_display
    start_null_sink
elif ! sound_server_reachable; then
    echo "No sound server is reachable: starting a PulseAudio null sink for Zembrola"
    echo "(it plays into the null sink, so nothing will be audible)."
    start_null_sink
fi

ensure_runtime_dir
echo "Starting $program"
"$program" &
app_pid=$!
if [[ -n "$ZB_XVFB_PID" ]]; then
    echo "Zembrola is running (pid $app_pid) on the virtual display $DISPLAY; Ctrl-C stops it."
fi

set +e
wait "$app_pid"
status=$?
set -e
app_pid=""
echo "Zembrola ended (exit status $status)."
exit "$status"
