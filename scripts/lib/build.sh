# shellcheck shell=bash
# Shared by the scripts (source it): configures and builds the project with CMake, through
# ccache when it is installed; the sanitizer builds' flags and run-time options.
#
#   zb_build BUILD_DIR BUILD_TYPE [extra CMake arguments...]

ZB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

zb_build() {
    local dir="$1" type="$2"
    shift 2
    local launcher=()
    if command -v ccache >/dev/null 2>&1; then
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        # Lets builds in different folders and clones share cached objects.
        export CCACHE_BASEDIR="$ZB_ROOT" CCACHE_NOHASHDIR=1
    fi
    cmake -S "$ZB_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="$type" "${launcher[@]}" "$@" || return 1
    cmake --build "$dir" -j "${ZB_JOBS:-2}" || return 1
}

# The sanitizer builds: clang, lightly optimised, with debug information. The ASan + UBSan
# build also makes the libFuzzer targets; UBSan is compiled without recovery so that every
# finding fails.
ZB_CLANG_FLAGS=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g")
ZB_ASAN_FUZZ_FLAGS=(-DZEMBROLA_SANITIZE="address;undefined" -DZEMBROLA_FUZZ=ON
    -DCMAKE_CXX_FLAGS="-fno-sanitize-recover=undefined")

# The sanitizers' run-time options: stop at the first report, with the suppressions of
# scripts/sanitizers/ (library internals only).
zb_sanitizer_env() {
    local supp="$ZB_ROOT/scripts/sanitizers"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"
    export ASAN_OPTIONS="suppressions=$supp/asan.supp:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:abort_on_error=0"
    export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
    # Qt, GLib, PulseAudio and RtAudio are not built with TSan: their own locks (Qt's
    # futexes) are invisible to it, so memory they hand between their threads looks racy.
    # Accesses from those modules are left out; this project's code stays fully checked.
    export TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=0:ignore_noninstrumented_modules=1"
}
