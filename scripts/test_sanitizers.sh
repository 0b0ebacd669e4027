#!/usr/bin/env bash
# Builds Zembrola and its tests with clang's sanitizers and runs them:
#
#   1. AddressSanitizer + UndefinedBehaviorSanitizer (+ LeakSanitizer) in build-rel-asan/,
#      the same build that makes the libFuzzer targets and the leak-check session;
#   2. ThreadSanitizer in build-rel-tsan/;
#   3. every fuzz target for a short, bounded time on the seed corpus that the project's own
#      generator writes, printing executions and time per target;
#   4. a short run of the soak benchmark (loop passes through the sequencer) under ASan.
#
# Every build is made from scratch. Any sanitizer report, test failure, fuzzer finding or
# soak failure makes the script exit non-zero. The X display and the sound server come from
# the caller (scripts/test.sh starts Xvfb and a PulseAudio null sink); without them the
# end-to-end tests skip themselves.
#
# Knobs (environment):
#   ZB_FUZZ_SECONDS   seconds per fuzz target (default 30)
#   ZB_SOAK_PASSES    loop passes of the soak under ASan (default 100)
#   ZB_SAN_ONLY       "asan", "tsan" or "fuzz" to run only that part (the fuzz part needs
#                     an existing ASan build)
#   ZB_SAN_KEEP=1     reuse existing build dirs instead of building from scratch
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib/build.sh"
source "$here/lib/session.sh"

asan_dir="${ZB_ASAN_BUILD_DIR:-$ZB_ROOT/build-rel-asan}"
tsan_dir="${ZB_TSAN_BUILD_DIR:-$ZB_ROOT/build-rel-tsan}"
fuzz_seconds="${ZB_FUZZ_SECONDS:-30}"
soak_passes="${ZB_SOAK_PASSES:-100}"
only="${ZB_SAN_ONLY:-}"
started=$SECONDS
failures=()

if ! command -v clang++ >/dev/null 2>&1; then
    echo "test_sanitizers: clang++ is missing (Debian packages clang, libclang-rt-14-dev)" >&2
    exit 1
fi

# The tests write only below a private folder, never into the caller's home.
scratch="$(mktemp -d "${TMPDIR:-/tmp}/zembrola-san.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
if [[ -z "${XDG_DATA_HOME:-}" || "${HOME:-/root}" == "/root" ]]; then
    use_private_home "$scratch/home"
fi
if [[ $EUID -eq 0 ]]; then
    export QTWEBENGINE_DISABLE_SANITIZER_SANDBOX=1 QTWEBENGINE_DISABLE_SANDBOX=1
fi

common_flags=("${ZB_CLANG_FLAGS[@]}" -DZEMBROLA_TESTS=ON -DZEMBROLA_BENCH=ON)
zb_sanitizer_env

build() {
    local dir="$1"
    shift
    if [[ "${ZB_SAN_KEEP:-0}" != 1 ]]; then
        rm -rf "$dir"
    fi
    local t=$SECONDS
    zb_build "$dir" RelWithDebInfo "${common_flags[@]}" "$@" >"$scratch/build.log" 2>&1 || {
        tail -n 60 "$scratch/build.log"
        return 1
    }
    echo "   built $(basename "$dir") in $((SECONDS - t)) s"
}

# Runs the build's ctest suite, leaving out the labels and the test names given (regular
# expressions, may be empty); records a failure.
run_suite() {
    local name="$1" dir="$2" exclude="$3" exclude_tests="${4:-}"
    local t=$SECONDS log="$dir/ctest-sanitizer.log"
    local args=(--test-dir "$dir" --output-on-failure -j "${ZB_JOBS:-2}" --timeout 600)
    [[ -n "$exclude" ]] && args+=(-LE "$exclude")
    [[ -n "$exclude_tests" ]] && args+=(-E "$exclude_tests")
    set +e
    ctest "${args[@]}" >"$log" 2>&1
    local status=$?
    set -e
    grep -E '^[0-9]+% tests passed|\(Failed\)|\(Subprocess aborted\)|\(Timeout\)|\*\*\*Exception' "$log" || true
    if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer)|WARNING: ThreadSanitizer|runtime error:' "$log"; then
        echo "   $name: sanitizer reports in $log:"
        grep -E -A12 'ERROR: (AddressSanitizer|LeakSanitizer)|WARNING: ThreadSanitizer|runtime error:' "$log" | head -n 80 || true
        status=1
    fi
    if ! grep -q 'tests passed, ' "$log"; then
        echo "   $name: ctest ran no test"
        status=1
    fi
    echo "   $name: $(grep -E '^[0-9]+% tests passed' "$log" || echo 'no summary') ($((SECONDS - t)) s)"
    ((status == 0)) || failures+=("$name")
}

if [[ -z "$only" || "$only" == asan || "$only" == fuzz ]]; then
    if [[ "$only" != fuzz ]]; then
        echo "== ASan + UBSan build (with the fuzz targets) in $asan_dir"
        build "$asan_dir" "${ZB_ASAN_FUZZ_FLAGS[@]}"
        echo "== Unit and end-to-end tests under ASan + UBSan + LSan"
        # The web page window runs Chromium inside the test process; Chromium is not built
        # for the sanitizers, so its tests stay out here (they run in the plain suite).
        run_suite "asan+ubsan" "$asan_dir" "^browser$"
        echo "== Leak check: a whole session (load, play, export, close) under LeakSanitizer"
        if "$asan_dir/bin/leak_session" >"$asan_dir/leak_session.log" 2>&1; then
            tail -n 3 "$asan_dir/leak_session.log"
        else
            cat "$asan_dir/leak_session.log"
            failures+=("leak-session")
        fi
        # The full 10000-pass soak is a benchmark (bench/run_all.sh); under ASan a shorter
        # one checks the same path for memory errors and leaks within CI's time.
        echo "== Soak: ${soak_passes} loop passes through the sequencer under ASan"
        if "$asan_dir/bin/bench_soak" --passes "$soak_passes" >"$asan_dir/soak.log" 2>&1; then
            cat "$asan_dir/soak.log"
        else
            cat "$asan_dir/soak.log"
            failures+=("soak")
        fi
    fi

    echo "== Fuzzing, ${fuzz_seconds} s per target"
    corpus="$asan_dir/fuzz-corpus"
    rm -rf "$corpus" "$asan_dir/fuzz-work" "$asan_dir/fuzz-artifacts"
    mkdir -p "$asan_dir/fuzz-work" "$asan_dir/fuzz-artifacts"
    "$asan_dir/fuzz/make_fuzz_corpus" "$corpus"
    declare -A seeds=([fuzz_wav_load]=wav [fuzz_typed_numbers]=numbers [fuzz_capture_commands]=commands)
    printf '   %-24s %12s %8s %s\n' target executions seconds result
    for target in fuzz_wav_load fuzz_typed_numbers fuzz_capture_commands; do
        work="$asan_dir/fuzz-work/$target"
        mkdir -p "$work"
        log="$asan_dir/fuzz-work/$target.log"
        t=$SECONDS
        set +e
        # New inputs go to the work dir; the seed dir is only read.
        "$asan_dir/fuzz/$target" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=4096 \
            -print_final_stats=1 -artifact_prefix="$asan_dir/fuzz-artifacts/$target-" \
            "$work" "$corpus/${seeds[$target]}" >"$log" 2>&1
        status=$?
        set -e
        execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
        result=ok
        if ((status != 0)) || compgen -G "$asan_dir/fuzz-artifacts/$target-*" >/dev/null; then
            result="FINDING (exit $status)"
            failures+=("$target")
        fi
        printf '   %-24s %12s %8s %s\n' "$target" "${execs:-?}" "$((SECONDS - t))" "$result"
        if [[ "$result" != ok ]]; then
            grep -E -A25 'ERROR: |runtime error:|deadly signal|Test unit written' "$log" | head -n 60 || true
        fi
    done
fi

if [[ -z "$only" || "$only" == tsan ]]; then
    echo "== ThreadSanitizer build in $tsan_dir"
    build "$tsan_dir" -DZEMBROLA_SANITIZE=thread -DZEMBROLA_FUZZ=OFF
    echo "== Unit and end-to-end tests under TSan"
    # ThreadSanitizer's runtime (clang 14) aborts in a child that Qt starts with clone(), so
    # the tests that start programs (the end-to-end tests, the kit generator, the MIME
    # database tool, the capture test that moves its stream with pactl) run in the plain and
    # ASan suites only. The UI and audio threads meet in the engine's two-thread test and
    # the capture device's tests, which run here.
    run_suite "tsan" "$tsan_dir" "^(browser|e2e)$" \
        "^(DemoKit\.TheGenerator.*|RegisterTest\.TheMimeDatabaseToolAcceptsThePackage|CaptureSource\.RecordsTheMonitorOfTheSinkTheOutputPlaysOn)$"
fi

echo "== Sanitizer run took $((SECONDS - started)) s"
if ((${#failures[@]} > 0)); then
    echo "FAILED: ${failures[*]}"
    exit 1
fi
echo "PASSED"
