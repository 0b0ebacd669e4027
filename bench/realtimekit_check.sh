#!/usr/bin/env bash
# Checks that a normal user (real-time limit 0) gets its sound thread raised by RealtimeKit.
# Needs root and Debian's dbus, rtkit and polkitd; starts a system bus, polkitd and
# rtkit-daemon, plays bench_cpu as USER on a private null sink, prints the process's
# RLIMIT_RTTIME and every thread's policy, then stops what it started. By hand only.
#
#   sudo bash bench/realtimekit_check.sh USER [build-dir]    (default: build)
set -euo pipefail
user="$1"
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "${2:-$root/build}" && pwd)/bin"
[[ ! -e /run/dbus/system_bus_socket ]] || { echo "a system bus is already running"; exit 1; }
work="$(mktemp -d)"
chmod 755 "$work"
chown "$user" "$work"
# Without logind the user has no desktop session, and polkit grants real time only to
# session members; this rule stands in for the session.
rule=/etc/polkit-1/rules.d/49-zembrola-check.rules
cat >"$rule" <<RULE
polkit.addRule(function(action, subject) {
    if (action.id == "org.freedesktop.RealtimeKit1.acquire-real-time" && subject.user == "$user")
        return polkit.Result.YES;
});
RULE
mkdir -p /run/dbus
dbus-daemon --system --fork --print-pid >"$work/dbus.pid"
/usr/lib/polkit-1/polkitd --no-debug >"$work/polkit.log" 2>&1 &
polkit=$!
cleanup() {
    # The bus started rtkit-daemon on the first call; it tells its process id.
    local rtkit
    rtkit="$(dbus-send --system --print-reply=literal --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.RealtimeKit1 \
        2>/dev/null | awk '{print $2}')" || true
    [[ -z "$rtkit" ]] || kill "$rtkit" 2>/dev/null || true
    kill "$polkit" "$(cat "$work/dbus.pid")" 2>/dev/null || true
    rm -f "$rule" /run/dbus/system_bus_socket /run/dbus/pid
}
trap cleanup EXIT
sleep 1
cat >"$work/run.sh" <<RUN
export XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen
mkdir -p "\$XDG_RUNTIME_DIR"; chmod 700 "\$XDG_RUNTIME_DIR"
source "$root/scripts/lib/session.sh"
session_init; start_virtual_display; start_null_sink
"$bin/bench_cpu" "$bin" 6 >"$work/bench.out" 2>&1 &
b=\$!
sleep 3
grep -i "realtime timeout" /proc/\$b/limits
for t in /proc/\$b/task/*; do
    echo "\$(basename \$t) \$(cat \$t/comm): \$(chrt -p \$(basename \$t) | tr '\n' ' ')"
done
wait \$b || true
grep "four voices" "$work/bench.out" || true
stop_all
RUN
chmod 644 "$work/run.sh"
su "$user" -c "bash $work/run.sh"
