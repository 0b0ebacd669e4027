#!/usr/bin/env bash
# Start-up time, footprint and idle CPU of the real program on the current X display with
# the current sound server (run_all.sh provides Xvfb and a PulseAudio null sink).
#
#   bash bench/bench_startup.sh [path/to/zembrola] [runs]
#
# The program defaults to $ZEMBROLA_BIN, else build/bin/zembrola. Each run launches it and
# polls `xwininfo -name Zembrola` every 5 ms until the window is mapped (IsViewable); the
# time is taken from the launch to the end of the first poll that sees it, so it is late by
# at most one poll (5 ms plus the time xwininfo takes to run). One unmeasured run first
# warms the caches. After the last run it reads the resident size (VmRSS) and whether the
# web engine is mapped, then the CPU time (utime + stime of /proc/<pid>/stat, every
# thread, 10 ms ticks) over 5 s of idling.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
program="${1:-${ZEMBROLA_BIN:-$here/../build/bin/zembrola}}"
runs="${2:-5}"

if [[ ! -x "$program" ]]; then
    echo "startup: skipped: no program at $program"
    exit 0
fi
if [[ -z "${DISPLAY:-}" ]] || ! command -v xwininfo >/dev/null 2>&1 ||
    ! xwininfo -root >/dev/null 2>&1; then
    echo "startup: skipped: no X display (or xwininfo missing)"
    exit 0
fi
# Without a sound server the program shows "Couldn't open the mixer." in a box captioned
# like the main window, which would be timed instead.
if ! command -v pactl >/dev/null 2>&1 || ! timeout 5 pactl info >/dev/null 2>&1; then
    echo "startup: skipped: no sound server"
    exit 0
fi

# The program registers its document type in the data home at every start: a private one.
scratch="$(mktemp -d "${TMPDIR:-/tmp}/zembrola-bench.XXXXXX")"
export HOME="$scratch/home" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
export XDG_CACHE_HOME="$scratch/cache"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
unset QT_QPA_PLATFORM

app_pid=""
cleanup() {
    if [[ -n "$app_pid" ]] && kill -0 "$app_pid" 2>/dev/null; then
        kill -TERM "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# True once a top-level window named Zembrola is viewable and as big as the main window
# (message boxes are small).
main_window_mapped() {
    local info
    info="$(xwininfo -name Zembrola 2>/dev/null)" || return 1
    [[ "$info" == *"IsViewable"* ]] || return 1
    local width
    width="$(sed -n 's/^ *Width: *//p' <<<"$info")"
    [[ -n "$width" && "$width" -ge 400 ]]
}


stop_app() {
    if [[ -n "$app_pid" ]]; then
        kill -TERM "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
        app_pid=""
    fi
    # The next run must not see this one's window.
    local i
    for ((i = 0; i < 200; i++)); do
        xwininfo -name Zembrola >/dev/null 2>&1 || return 0
        sleep 0.01
    done
}

# Launches the program and sets elapsed_ms to the milliseconds until its window is mapped;
# leaves it running (app_pid). Not to be called in a subshell: app_pid must survive.
launch_and_time() {
    local t0 t1
    t0="${EPOCHREALTIME//[.,]/}"
    "$program" >"$scratch/app.log" 2>&1 &
    app_pid=$!
    while ! main_window_mapped; do
        if ! kill -0 "$app_pid" 2>/dev/null; then
            echo "startup: the program ended before its window appeared; its output:" >&2
            cat "$scratch/app.log" >&2
            app_pid=""
            return 1
        fi
        sleep 0.005
    done
    t1="${EPOCHREALTIME//[.,]/}"
    elapsed_ms=$(((t1 - t0) / 1000))
    cpu_ms=$(($(cpu_ticks "$app_pid") * 1000 / hz))
}

if xwininfo -name Zembrola >/dev/null 2>&1; then
    echo "startup: skipped: a window named Zembrola is already on $DISPLAY"
    exit 0
fi

# utime and stime are fields 14 and 15 of /proc/<pid>/stat; the name field (2) holds no
# blanks for this program.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz="$(getconf CLK_TCK)"

elapsed_ms=0
cpu_ms=0
launch_and_time # warm-up
stop_app
times=()
cpu_times=()
for ((r = 0; r < runs; r++)); do
    launch_and_time
    times+=("$elapsed_ms")
    cpu_times+=("$cpu_ms")
    if ((r < runs - 1)); then
        stop_app
    fi
done

median_of() {
    printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {
        if (NR % 2) print a[(NR + 1) / 2]; else print int((a[NR / 2] + a[NR / 2 + 1]) / 2) }'
}
echo "startup: launch to main window mapped: median $(median_of "${times[@]}") ms of $runs" \
    "runs (${times[*]} ms) (goal <= 250 ms)"
echo "startup: CPU time used until then: median $(median_of "${cpu_times[@]}") ms" \
    "(${cpu_times[*]} ms, 10 ms ticks; less affected by the machine's load)"

# The last run's process, right after its window came up, and then idling.
rss_kb="$(awk '/^VmRSS:/ {print $2}' "/proc/$app_pid/status")"
echo "startup: resident size with the window up: $((rss_kb / 1024)) MB (${rss_kb} kB) (goal <= 64 MB)"
if grep -q 'libQt6WebEngineCore' "/proc/$app_pid/maps"; then
    echo "startup: web engine mapped at start: yes (goal: no)"
else
    echo "startup: web engine mapped at start: no (goal: no)"
fi

sleep 1 # let start-up's last work settle
c0="$(cpu_ticks "$app_pid")"
w0="${EPOCHREALTIME//[.,]/}"
sleep 5
c1="$(cpu_ticks "$app_pid")"
w1="${EPOCHREALTIME//[.,]/}"
rss_idle_kb="$(awk '/^VmRSS:/ {print $2}' "/proc/$app_pid/status")"
awk -v c="$((c1 - c0))" -v hz="$hz" -v w="$((w1 - w0))" 'BEGIN {
    printf "startup: idle CPU over %.1f s: %.2f%% of a core (%d ticks of 1/%d s) (goal < 1%%)\n",
        w / 1e6, 100 * (c / hz) / (w / 1e6), c, hz }'
echo "startup: resident size after idling: $((rss_idle_kb / 1024)) MB"
stop_app
