# shellcheck shell=bash
# Shared by run.sh, test.sh and screenshot.sh (source it, do not run it): gives a headless
# machine a virtual X display and a private PulseAudio server whose only output is a null
# sink, and takes both down again. Everything they need lives in one private temp dir, so
# nothing touches the user's own display, sound server or home.
#
#   session_init            creates the private dir ($ZB_SESSION_DIR)
#   start_virtual_display   starts Xvfb on a free display number, exports DISPLAY
#   start_null_sink         starts PulseAudio with the null sink, exports PULSE_SERVER
#   stop_all                stops what was started here and removes the private dir
#   sound_server_reachable  true when a PulseAudio / PipeWire server answers
#   ensure_runtime_dir      gives XDG_RUNTIME_DIR a private value when none is set
#   use_private_home DIR    points HOME and the XDG folders below DIR

ZB_SESSION_DIR="${ZB_SESSION_DIR:-}"
ZB_XVFB_PID=""
ZB_PULSE_PID=""

zb_say() { printf '%s\n' "$*" >&2; }

session_init() {
    if [[ -z "$ZB_SESSION_DIR" ]]; then
        ZB_SESSION_DIR="$(mktemp -d "${TMPDIR:-/tmp}/zembrola-session.XXXXXX")"
        chmod 700 "$ZB_SESSION_DIR"
    fi
}

# Waits up to $1 tenths of a second for the command that follows to succeed.
zb_wait_for() {
    local tenths="$1"
    shift
    local i
    for ((i = 0; i < tenths; i++)); do
        if "$@" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# A bare root shell has no XDG_RUNTIME_DIR; Qt then warns and picks a shared /tmp dir.
ensure_runtime_dir() {
    if [[ -z "${XDG_RUNTIME_DIR:-}" || ! -d "${XDG_RUNTIME_DIR:-}" ]]; then
        session_init
        mkdir -p "$ZB_SESSION_DIR/runtime"
        chmod 700 "$ZB_SESSION_DIR/runtime"
        export XDG_RUNTIME_DIR="$ZB_SESSION_DIR/runtime"
    fi
}

# Points HOME and the XDG data, config and cache folders at a private home in $1 (created),
# so that programs and tests never touch the user's own. As root the web engine's sandbox
# is switched off: it refuses to run as root.
use_private_home() {
    local home="$1"
    mkdir -p "$home/.local/share" "$home/.config" "$home/.cache"
    export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config"
    export XDG_CACHE_HOME="$home/.cache"
    if [[ $EUID -eq 0 ]]; then
        export QTWEBENGINE_DISABLE_SANDBOX=1
    fi
}

zb_file_has_line() { grep -q '^[0-9][0-9]*$' "$1"; }

start_virtual_display() {
    session_init
    if ! command -v Xvfb >/dev/null 2>&1; then
        zb_say "Xvfb is not installed (Debian package xvfb); run scripts/deps.sh test"
        return 1
    fi
    local numfile="$ZB_SESSION_DIR/display"
    : >"$numfile"
    # -displayfd lets the server pick a display number nobody uses and tell us which.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
        3>"$numfile" >"$ZB_SESSION_DIR/xvfb.log" 2>&1 &
    ZB_XVFB_PID=$!
    if ! zb_wait_for 150 zb_file_has_line "$numfile"; then
        zb_say "Xvfb did not start; its log:"
        cat "$ZB_SESSION_DIR/xvfb.log" >&2 || true
        return 1
    fi
    DISPLAY=":$(head -n 1 "$numfile")"
    export DISPLAY
    # Nothing may steer Qt away from this display (a desktop's wayland choice, say).
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM
    zb_say "Virtual display (Xvfb) running on DISPLAY=$DISPLAY (pid $ZB_XVFB_PID)"
}

sound_server_reachable() {
    command -v pactl >/dev/null 2>&1 && timeout 5 pactl info >/dev/null 2>&1
}

start_null_sink() {
    session_init
    if ! command -v pulseaudio >/dev/null 2>&1 || ! command -v pactl >/dev/null 2>&1; then
        zb_say "PulseAudio is not installed (pulseaudio, pulseaudio-utils); run scripts/deps.sh test"
        return 1
    fi
    local pa="$ZB_SESSION_DIR/pulse"
    mkdir -p "$pa/runtime" "$pa/config" "$pa/home"
    chmod 700 "$pa/runtime"
    # The daemon gets its own runtime, config and home dirs: as root it would otherwise
    # fight over /root's, and it must never meet a desktop session's server. It stays in
    # the foreground (as our child) so that its pid is ours to stop; the idle and exit
    # flags keep it alive between clients.
    env HOME="$pa/home" XDG_CONFIG_HOME="$pa/config" XDG_RUNTIME_DIR="$pa/runtime" \
        PULSE_RUNTIME_PATH="$pa/runtime/pulse" \
        pulseaudio --daemonize=no --system=false -n --exit-idle-time=-1 --disallow-exit \
        --use-pid-file=no --log-target=stderr \
        --load="module-null-sink sink_name=zembrola_null" \
        --load="module-native-protocol-unix" \
        >"$ZB_SESSION_DIR/pulseaudio.log" 2>&1 &
    ZB_PULSE_PID=$!
    export PULSE_SERVER="unix:$pa/runtime/pulse/native"
    if ! zb_wait_for 150 pactl info; then
        zb_say "PulseAudio did not start; its log:"
        cat "$ZB_SESSION_DIR/pulseaudio.log" >&2 || true
        return 1
    fi
    # As on users' desktops, the default recording input is a microphone (a silent one),
    # not the monitor: an export must find the sink's monitor itself.
    pactl set-default-sink zembrola_null
    pactl load-module module-null-source source_name=zembrola_mic >/dev/null
    pactl set-default-source zembrola_mic
    zb_say "PulseAudio null sink running (PULSE_SERVER=$PULSE_SERVER, pid $ZB_PULSE_PID)"
}

zb_stop_pid() {
    local pid="$1"
    [[ -n "$pid" ]] || return 0
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null || true
    if ! zb_wait_for 50 zb_gone "$pid"; then
        kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
}

zb_gone() { ! kill -0 "$1" 2>/dev/null; }

stop_all() {
    if [[ -n "$ZB_PULSE_PID" ]]; then
        zb_stop_pid "$ZB_PULSE_PID"
        zb_say "Stopped the PulseAudio null sink"
        ZB_PULSE_PID=""
    fi
    if [[ -n "$ZB_XVFB_PID" ]]; then
        zb_stop_pid "$ZB_XVFB_PID"
        zb_say "Stopped the virtual display"
        ZB_XVFB_PID=""
    fi
    if [[ -n "$ZB_SESSION_DIR" && -d "$ZB_SESSION_DIR" ]]; then
        rm -rf "$ZB_SESSION_DIR"
    fi
    ZB_SESSION_DIR=""
}
