# shellcheck shell=bash
# Shared by run.sh, test.sh and screenshot.sh (source it): configures and builds the
# project with CMake, through ccache when it is installed.
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
