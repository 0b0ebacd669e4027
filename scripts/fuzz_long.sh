#!/usr/bin/env bash
# Runs the libFuzzer targets for long (default 4 hours each, one after the other), keeping
# every corpus: new inputs accumulate in fuzz/corpus/<target>/ below the build dir and go on
# from there in the next run; crashes land in fuzz/artifacts/. Builds the ASan + UBSan fuzz
# build first when it is missing.
#
#   bash scripts/fuzz_long.sh [SECONDS_PER_TARGET] [TARGET...]
#   ZB_FUZZ_BUILD_DIR=...   the build dir (default build-rel-asan)
#   ZB_FUZZ_JOBS=N          parallel fuzzing jobs per target (default 1)
#
# Every crash found becomes a regression test: its bytes embedded in a test of the area
# (see tests/audio/wav_decode_test.cpp).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib/build.sh"
build_dir="${ZB_FUZZ_BUILD_DIR:-$ZB_ROOT/build-rel-asan}"
seconds="${1:-14400}"
shift || true
targets=("$@")
((${#targets[@]} > 0)) || targets=(fuzz_wav_load fuzz_typed_numbers fuzz_capture_commands)

if [[ ! -x "$build_dir/fuzz/fuzz_wav_load" ]]; then
    zb_build "$build_dir" RelWithDebInfo "${ZB_CLANG_FLAGS[@]}" "${ZB_ASAN_FUZZ_FLAGS[@]}"
fi
zb_sanitizer_env

seeds="$build_dir/fuzz/seeds"
"$build_dir/fuzz/make_fuzz_corpus" "$seeds"
declare -A seed_of=([fuzz_wav_load]=wav [fuzz_typed_numbers]=numbers [fuzz_capture_commands]=commands)
mkdir -p "$build_dir/fuzz/artifacts"
status=0
for target in "${targets[@]}"; do
    corpus="$build_dir/fuzz/corpus/$target"
    mkdir -p "$corpus"
    echo "== $target for $seconds s; corpus $corpus"
    # With -jobs, libFuzzer writes its logs (fuzz-N.log) into the current folder.
    (cd "$build_dir/fuzz" && "./$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -jobs="${ZB_FUZZ_JOBS:-1}" -workers="${ZB_FUZZ_JOBS:-1}" -print_final_stats=1 \
        -artifact_prefix="$build_dir/fuzz/artifacts/$target-" \
        "$corpus" "$seeds/${seed_of[$target]}") || status=1
    echo "   corpus now holds $(find "$corpus" -type f | wc -l) inputs"
done
ls -l "$build_dir/fuzz/artifacts"
exit $status
