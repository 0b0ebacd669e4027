#!/usr/bin/env bash
# Measures a peer drum machine, Hydrogen (Debian package hydrogen), as a black box beside
# Zembrola's own benches, by the same rules and on the same sound server:
#
#   onsets  Hydrogen plays bench_onsets' click on every 32nd note (our step) at the step
#           period Zembrola uses for 60, 97, 120 and 240 bpm, on its PulseAudio driver with
#           its default settings, while one busy loop per core runs at normal priority. The
#           default sink's monitor is recorded with parecord and its onsets measured with
#           peer_onsets (each interval minus the ideal period in frames at 44.1 kHz).
#   cpu     Hydrogen's process CPU time (every thread) over wall time, idle with the song
#           loaded and while four instruments (our demo kit) play every step at 120 bpm,
#           without the busy loops, as bench_cpu measures Zembrola.
#
# Hydrogen is started fresh for each song with a private home (its own settings file, OSC
# on a free UDP port), its transport driven by OSC messages (/Hydrogen/PLAY, /Hydrogen/STOP).
# Everything started here is stopped on exit.
#
#   bash bench/peer_hydrogen.sh [--install] [build-dir] [steps] [cpu-seconds]
#
# build-dir holds bin/peer_onsets and the demo kit (default build); steps per tempo as in
# bench_onsets (default 72); seconds of playing for the CPU figure as in bench_cpu (default
# 10). --install installs Hydrogen with apt-get when it is missing (as root). Without an X
# display or a sound server it starts a private one (scripts/lib/session.sh).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
install=0
if [[ "${1:-}" == "--install" ]]; then
    install=1
    shift
fi
build="${1:-build}"
steps="${2:-72}"
cpu_seconds="${3:-10}"
if [[ ! -d "$build" && -d "$root/$build" ]]; then
    build="$root/$build"
fi
bin="$(cd "$build" 2>/dev/null && pwd)/bin"

if ! command -v hydrogen >/dev/null 2>&1 && [[ $install -eq 1 ]]; then
    if [[ $EUID -ne 0 ]]; then
        echo "peer: installing Hydrogen needs root: sudo apt-get install hydrogen" >&2
        exit 1
    fi
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq hydrogen
fi
if ! command -v hydrogen >/dev/null 2>&1; then
    echo "peer: skipped: Hydrogen is not installed (apt-get install hydrogen, or run" \
        "bench/peer_hydrogen.sh --install)"
    exit 0
fi
if [[ ! -x "$bin/peer_onsets" ]]; then
    echo "peer: skipped: $bin/peer_onsets is not built (configure with -DZEMBROLA_BENCH=ON)"
    exit 0
fi
for tool in parecord pactl ss; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "peer: skipped: $tool is missing (Debian packages pulseaudio-utils, iproute2)"
        exit 0
    fi
done
version="$(hydrogen --version 2>/dev/null | awk 'tolower($1) == "hydrogen" {print $2; exit}')"
peer="Hydrogen ${version:-?}"

source "$root/scripts/lib/session.sh"
h_pid=""
rec_pid=""
busy_pids=()
scratch=""

stop_busy() {
    local pid
    for pid in "${busy_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    busy_pids=()
}

stop_recording() {
    [[ -n "$rec_pid" ]] || return 0
    # parecord closes its file on a signal, so the WAV header is complete.
    kill -INT "$rec_pid" 2>/dev/null || true
    zb_wait_for 50 zb_gone "$rec_pid" || kill -KILL "$rec_pid" 2>/dev/null || true
    wait "$rec_pid" 2>/dev/null || true
    rec_pid=""
}

stop_peer() {
    [[ -n "$h_pid" ]] || return 0
    zb_stop_pid "$h_pid"
    h_pid=""
}

cleanup() {
    # A reader that went away (| head) must not cut the cleanup short.
    trap '' PIPE
    stop_busy
    stop_recording
    stop_peer
    [[ -z "$scratch" || -n "${ZB_PEER_KEEP:-}" ]] || rm -rf "$scratch"
    stop_all
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

if [[ -z "${DISPLAY:-}" ]] || ! xwininfo -root >/dev/null 2>&1; then
    start_virtual_display >/dev/null 2>&1 || {
        echo "peer: skipped: no X display could be started"
        exit 0
    }
fi
if ! sound_server_reachable; then
    start_null_sink >/dev/null 2>&1 || {
        echo "peer: skipped: no sound server could be started"
        exit 0
    }
fi
ensure_runtime_dir
sink="$(pactl get-default-sink)"
monitor="$sink.monitor"
if ! pactl list short sources | awk '{print $2}' | grep -qxF "$monitor"; then
    echo "peer: skipped: the default sink '$sink' has no monitor to record"
    exit 0
fi

scratch="$(mktemp -d "${TMPDIR:-/tmp}/zembrola-peer.XXXXXX")"
home="$scratch/home"
mkdir -p "$home/.hydrogen"

# A UDP port nobody listens on, for the peer's OSC server.
port=""
for candidate in $(shuf -i 20000-60000 -n 50); do
    if ! ss -Huln "sport = :$candidate" 2>/dev/null | grep -q .; then
        port="$candidate"
        break
    fi
done
if [[ -z "$port" ]]; then
    echo "peer: failed: no free UDP port for Hydrogen's OSC server"
    exit 1
fi
conf_in=/usr/share/hydrogen/data/hydrogen.default.conf
sed -e 's|<audio_driver>[^<]*</audio_driver>|<audio_driver>PulseAudio</audio_driver>|' \
    -e 's|<oscEnabled>false</oscEnabled>|<oscEnabled>true</oscEnabled>|' \
    -e "s|<oscServerPort>[0-9]*</oscServerPort>|<oscServerPort>$port</oscServerPort>|" \
    -e 's|<use_metronome>true</use_metronome>|<use_metronome>false</use_metronome>|' \
    "$conf_in" >"$home/.hydrogen/hydrogen.conf"
if ! grep -q "<oscServerPort>$port</oscServerPort>" "$home/.hydrogen/hydrogen.conf" ||
    ! grep -q '<oscEnabled>true</oscEnabled>' "$home/.hydrogen/hydrogen.conf"; then
    echo "peer: failed: $conf_in does not have the expected OSC settings"
    exit 1
fi
buffer="$(sed -n 's|.*<buffer_size>\([0-9]*\)</buffer_size>.*|\1|p' "$conf_in" | head -n 1)"

"$bin/peer_onsets" click "$scratch/click.wav"

# Zembrola's step period for a tempo: an eighth of a beat in whole ms, rounded half to even.
step_ms() {
    awk -v t="$1" 'BEGIN { p = 7500 / t; f = int(p); r = p - f;
        if (r > 0.5 || (r == 0.5 && f % 2 == 1)) f++; print f }'
}

# write_song FILE BPM SAMPLE...: a song of one pattern, looped, one instrument per sample,
# each with a note on every 32nd (48 ticks to the beat: every 6 ticks), full velocity.
write_song() {
    local file="$1" bpm="$2"
    shift 2
    local n=$# id=0 pos s
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'
        echo "<song><version>1.2.0</version><bpm>$bpm</bpm><volume>1</volume>"
        echo '<metronomeVolume>0</metronomeVolume><name>zembrola-bench</name>'
        echo '<loopEnabled>true</loopEnabled><patternModeMode>true</patternModeMode>'
        echo '<mode>song</mode><humanize_time>0</humanize_time>'
        echo '<humanize_velocity>0</humanize_velocity><swing_factor>0</swing_factor>'
        echo '<componentList><drumkitComponent><id>0</id><name>Main</name><volume>1</volume>'
        echo '</drumkitComponent></componentList><instrumentList>'
        for s in "$@"; do
            echo "<instrument><id>$id</id><name>voice$id</name><volume>1</volume>"
            echo '<isMuted>false</isMuted><pan>0</pan><gain>1</gain>'
            echo '<applyVelocity>false</applyVelocity><filterActive>false</filterActive>'
            echo '<Attack>0</Attack><Decay>0</Decay><Sustain>1</Sustain><Release>1000</Release>'
            echo '<muteGroup>-1</muteGroup><sampleSelectionAlgo>VELOCITY</sampleSelectionAlgo>'
            echo '<isHihat>-1</isHihat><lower_cc>0</lower_cc><higher_cc>127</higher_cc>'
            echo '<instrumentComponent><component_id>0</component_id><gain>1</gain><layer>'
            echo "<filename>$s</filename><min>0</min><max>1</max><gain>1</gain><pitch>0</pitch>"
            echo '</layer></instrumentComponent></instrument>'
            id=$((id + 1))
        done
        echo '</instrumentList><patternList><pattern><name>steps</name><category></category>'
        echo '<size>192</size><denominator>4</denominator><noteList>'
        for ((id = 0; id < n; id++)); do
            for ((pos = 0; pos < 192; pos += 6)); do
                echo "<note><position>$pos</position><leadlag>0</leadlag><velocity>1</velocity>"
                echo '<pan>0</pan><pitch>0</pitch><probability>1</probability><key>C0</key>'
                echo "<length>-1</length><instrument>$id</instrument><note_off>false</note_off></note>"
            done
        done
        echo '</noteList></pattern></patternList><virtualPatternList/><patternSequence>'
        echo '<group><patternID>steps</patternID></group></patternSequence>'
        echo '<BPMTimeLine/><timeLineTag/></song>'
    } >"$file"
}

# One OSC message without arguments: the address padded with NULs to a multiple of four,
# then the empty type tag, in one write (one datagram).
osc_send() {
    local address="$1" format='%s' i
    for ((i = 0; i < 4 - ${#address} % 4; i++)); do format+='\0'; done
    # shellcheck disable=SC2059 # the format carries the padding
    printf "$format,\\0\\0\\0" "$address" >"/dev/udp/127.0.0.1/$port"
}

peer_ready() {
    kill -0 "$h_pid" 2>/dev/null &&
        ss -Hulnp "sport = :$port" 2>/dev/null | grep -q "pid=$h_pid," &&
        pactl list sink-inputs 2>/dev/null | grep -q "application.process.id = \"$h_pid\""
}

# Starts the peer on a song and waits until its OSC server listens and its stream plays
# into the sink. --child: no crash-reporter parent, so the pid is the player's own.
start_peer() {
    (
        export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
        unset QT_QPA_PLATFORM WAYLAND_DISPLAY
        exec hydrogen --child -n -d pulseaudio -s "$1"
    ) >>"$scratch/hydrogen.log" 2>&1 &
    h_pid=$!
    if ! zb_wait_for 300 peer_ready; then
        echo "peer: failed: Hydrogen did not come up on its OSC port and the sound server;" \
            "its last lines:"
        tail -n 15 "$scratch/hydrogen.log" | sed 's/^/    /'
        exit 1
    fi
    sleep 1
}

# utime + stime of a process, in clock ticks.
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }
now() { date +%s.%N; }
share() { awk -v t="$1" -v hz="$(getconf CLK_TCK)" -v w="$2" 'BEGIN { printf "%.2f", 100 * t / hz / w }'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "peer: $peer, PulseAudio driver, its default settings ($buffer-frame buffer), sink" \
    "'$sink', recorded from '$monitor'; $(nproc) cores"

for tempo in 60 97 120 240; do
    ms="$(step_ms "$tempo")"
    bpm="$(awk -v m="$ms" 'BEGIN { printf "%.6f", 7500 / m }')"
    period="$(awk -v m="$ms" 'BEGIN { print m * 44.1 }')"
    song="$scratch/click-$tempo.h2song"
    write_song "$song" "$bpm" "$scratch/click.wav"
    start_peer "$song"
    for ((i = 0; i < $(nproc); i++)); do
        (while :; do :; done) &
        busy_pids+=($!)
    done
    rec="$scratch/live-$tempo.wav"
    parecord --device="$monitor" --rate=44100 --channels=2 --format=s16le \
        --file-format=wav "$rec" 2>>"$scratch/parecord.log" &
    rec_pid=$!
    sleep 0.5
    osc_send /Hydrogen/PLAY
    # The steps, and half a second for the peer's start and its buffer.
    sleep "$(awk -v n="$steps" -v m="$ms" 'BEGIN { print (n + 2) * m / 1000 + 0.5 }')"
    osc_send /Hydrogen/STOP
    sleep 0.3
    stop_recording
    load_now="$(load)"
    stop_busy
    stop_peer
    "$bin/peer_onsets" analyse "$rec" "$period" \
        "$peer, live, $tempo bpm ($ms ms steps, its tempo $bpm), one busy loop per core, load average $load_now" \
        "$steps" || true
done

kit=()
for k in kit-1-kick kit-2-snare kit-3-hihat kit-4-clap; do
    if [[ ! -f "$bin/$k.wav" ]]; then
        echo "peer: cpu: skipped: the demo kit is missing ($bin/$k.wav)"
        exit 0
    fi
    kit+=("$bin/$k.wav")
done
ms="$(step_ms 120)"
bpm="$(awk -v m="$ms" 'BEGIN { printf "%.6f", 7500 / m }')"
write_song "$scratch/kit.h2song" "$bpm" "${kit[@]}"
start_peer "$scratch/kit.h2song"
sleep 1
t0="$(cpu_ticks "$h_pid")"
w0="$(now)"
sleep 5
idle_ticks=$(($(cpu_ticks "$h_pid") - t0))
idle_wall="$(awk -v a="$w0" -v b="$(now)" 'BEGIN { print b - a }')"
osc_send /Hydrogen/PLAY
sleep 1
t0="$(cpu_ticks "$h_pid")"
w0="$(now)"
sleep "$cpu_seconds"
play_ticks=$(($(cpu_ticks "$h_pid") - t0))
play_wall="$(awk -v a="$w0" -v b="$(now)" 'BEGIN { print b - a }')"
osc_send /Hydrogen/STOP
echo "cpu: $peer, idle, song loaded, window shown: $(share "$idle_ticks" "$idle_wall")% of a" \
    "core over $(printf '%.1f' "$idle_wall") s"
echo "cpu: $peer, four instruments on every step at 120 bpm ($ms ms steps, its tempo $bpm):" \
    "$(share "$play_ticks" "$play_wall")% of a core over $(printf '%.1f' "$play_wall") s," \
    "load average $(load)"
