#!/usr/bin/env bash
# Runs every benchmark of the project against an existing build and prints one line per
# figure with its goal. It builds nothing:
#
#   bash bench/run_all.sh [build-dir]        (default: build)
#
# ZB_ONSET_STEPS (default 72) sets the live steps per tempo of the onset benches and
# ZB_CPU_SECONDS (default 10) the seconds of playing of the CPU benches. Where Hydrogen is
# installed (Debian package hydrogen) it is measured beside Zembrola in the same session
# (bench/peer_hydrogen.sh); otherwise that step says it was skipped.
#
# Build first, for example:
#   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZEMBROLA_BENCH=ON && cmake --build build
#
# Without an X display it starts a virtual one (Xvfb); without a reachable sound server it
# starts a private PulseAudio server whose only output is a null sink, with a silent
# microphone as the default input (the latency bench records the sink's monitor instead). It stops whatever it
# started. The machine's other load changes the wall-clock figures (start-up time,
# latency); the CPU figures are CPU time and depend less on it.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="${1:-build}"
if [[ ! -d "$build" && -d "$root/$build" ]]; then
    build="$root/$build"
fi
if [[ ! -d "$build" ]]; then
    echo "run_all: no build folder '$build'; build first (see the top of this script)" >&2
    exit 1
fi
bin="$(cd "$build" && pwd)/bin"

source "$root/scripts/lib/session.sh"
trap stop_all EXIT
trap 'exit 130' INT TERM HUP

if [[ -z "${DISPLAY:-}" ]] || ! xwininfo -root >/dev/null 2>&1; then
    start_virtual_display >/dev/null 2>&1 || echo "run_all: no X display could be started" >&2
fi
if ! sound_server_reachable; then
    start_null_sink >/dev/null 2>&1 || echo "run_all: no sound server could be started" >&2
fi
ensure_runtime_dir
if sound_server_reachable && [[ -z "$ZB_PULSE_PID" ]]; then
    source_name="$(pactl get-default-source 2>/dev/null || true)"
    if [[ "$source_name" != *.monitor ]]; then
        echo "run_all: note: the default input is '$source_name', not a sink's monitor; the" \
            "latency bench hears nothing unless it is (pactl set-default-source <sink>.monitor)"
    fi
fi

# The latency bench records the default input. On the private server started here, whose
# default input is a silent microphone as on desktops, the sink's monitor stands in for it
# during that bench only.
run_latency() {
    if [[ -z "$ZB_PULSE_PID" ]]; then
        run_bench bench_latency
        return 0
    fi
    local mic
    mic="$(pactl get-default-source 2>/dev/null || true)"
    pactl set-default-source zembrola_null.monitor
    run_bench bench_latency
    [[ -z "$mic" ]] || pactl set-default-source "$mic"
}

# The benches write their scratch files into a private folder, never into the home.
scratch="$(mktemp -d "${TMPDIR:-/tmp}/zembrola-bench-all.XXXXXX")"
trap 'rm -rf "$scratch"; stop_all' EXIT
export TMPDIR="$scratch"

echo "Zembrola benchmarks: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)," \
    "build $build"

# Runs one bench binary if it was built; its own lines carry their goals.
run_bench() {
    local name="$1"
    shift
    if [[ ! -x "$bin/$name" ]]; then
        echo "$name: skipped: not built (configure with -DZEMBROLA_BENCH=ON)"
        return 0
    fi
    "$bin/$name" "$@" 2>"$scratch/$name.err" || {
        echo "$name: failed (exit status $?); its errors:"
        sed 's/^/    /' "$scratch/$name.err"
    }
}

# The step jitter bench prints a table; one line per row with the goal, the table itself
# when its shape is not the one expected.
run_step_jitter() {
    local out
    if [[ ! -x "$bin/bench_step_jitter" ]]; then
        echo "bench_step_jitter: skipped: not built (configure with -DZEMBROLA_BENCH=ON)"
        return 0
    fi
    out="$(QT_QPA_PLATFORM=offscreen "$bin/bench_step_jitter" 2>"$scratch/jitter.err")" || {
        echo "bench_step_jitter: failed; its errors:"
        sed 's/^/    /' "$scratch/jitter.err"
        return 0
    }
    # Rows: render bpm timer exact | mean|dev| max|dev| mean-dev | mean|d-ex| max|d-ex| (n)
    local rows
    rows="$(awk '($1 == "event" || $1 == "blocks") && $5 == "|" && $9 == "|" {
        printf "step jitter: %s, %s bpm: onset interval off the step period by at most %s " \
            "frames (mean %s) over %s intervals (goal <= 1 sample)\n",
            ($1 == "event" ? "rendered at each step event" : "rendered in 256-frame blocks"),
            $2, $7, $6, substr($12, 2) }' <<<"$out")"
    if [[ -n "$rows" ]]; then
        echo "$rows"
    else
        echo "$out"
    fi
}

run_bench bench_engine
run_step_jitter
run_latency
QT_QPA_PLATFORM=offscreen run_bench bench_sample_load
if [[ -x "$bin/zembrola" ]]; then
    bash "$here/bench_startup.sh" "$bin/zembrola" 5 || echo "startup: failed"
else
    echo "startup: skipped: $bin/zembrola is not built"
fi
onset_steps="${ZB_ONSET_STEPS:-72}"
cpu_seconds="${ZB_CPU_SECONDS:-10}"
echo "cpu: load average $(cut -d' ' -f1-3 /proc/loadavg) before the CPU bench"
run_bench bench_cpu "$bin" "$cpu_seconds"
QT_QPA_PLATFORM=offscreen run_bench bench_onsets "$onset_steps"
bash "$here/peer_hydrogen.sh" "$build" "$onset_steps" "$cpu_seconds" || echo "peer: failed"
QT_QPA_PLATFORM=offscreen run_bench bench_soak --passes 10000
