#!/usr/bin/env bash
# Installs what is missing, builds Zembrola and its tests from scratch (build-test/), and
# runs every test on a private virtual display (Xvfb) and a private PulseAudio server with
# a null sink; then the same suite under the sanitizers and the fuzz targets for a bounded
# time (scripts/test_sanitizers.sh). Prints the summary; exits non-zero on any failure.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib/build.sh"
source "$here/lib/session.sh"

build_dir="${ZB_TEST_BUILD_DIR:-$ZB_ROOT/build-test}"
started=$SECONDS

bash "$here/deps.sh" test

echo "== Building from scratch in $build_dir"
rm -rf "$build_dir"
if ! zb_build "$build_dir" RelWithDebInfo -DZEMBROLA_TESTS=ON; then
    echo "== FAILED: the build failed (see the compiler's messages above); no tests were run"
    exit 1
fi
echo "== Build took $((SECONDS - started)) s"

trap stop_all EXIT
trap 'exit 130' INT TERM HUP

echo "== Starting a virtual display and a PulseAudio null sink for the tests"
start_virtual_display
start_null_sink

# The tests and the programs they start keep their files in the private session dir,
# never in the user's home.
use_private_home "$ZB_SESSION_DIR/home"
mkdir -p "$HOME/runtime"
chmod 700 "$HOME/runtime"
export XDG_RUNTIME_DIR="$HOME/runtime"
export TMPDIR="$ZB_SESSION_DIR"
# The programs under test must not refresh the real desktop databases.
export ZEMBROLA_NO_DESKTOP_REFRESH=1

echo "== Running the tests"
set +e
ctest --test-dir "$build_dir" --output-on-failure -j "${ZB_JOBS:-2}" \
    --output-junit "$build_dir/test-results.xml" 2>&1 | tee "$build_dir/ctest.log"
status=${PIPESTATUS[0]}
set -e

# The same suite again under AddressSanitizer + UndefinedBehaviorSanitizer and under
# ThreadSanitizer, then each fuzz target for a bounded time. ZB_SANITIZERS=0 leaves this
# out (a quick local run); CI always runs it.
san_status=0
if [[ "${ZB_SANITIZERS:-1}" != 0 ]]; then
    echo
    echo "== Sanitizers and fuzzing"
    bash "$here/test_sanitizers.sh" || san_status=$?
fi

echo
echo "== Summary"
# ctest's own summary: the pass rate line, any failed tests, the total time.
sed -n '/tests passed, /,$p' "$build_dir/ctest.log"
if [[ ! -s "$build_dir/ctest.log" ]] || ! grep -q 'tests passed, ' "$build_dir/ctest.log"; then
    echo "No test summary: ctest did not run any tests."
    status=1
fi
if [[ "${ZB_SANITIZERS:-1}" != 0 ]]; then
    if ((san_status == 0)); then
        echo "Sanitizer and fuzz runs: passed"
    else
        echo "Sanitizer and fuzz runs: FAILED (see the sanitizer section above)"
    fi
fi
echo "== Whole run took $((SECONDS - started)) s"
if ((status != 0 || san_status != 0)); then
    echo "FAILED (ctest exit status $status, sanitizer runs $san_status)"
    exit 1
fi
echo "PASSED"
