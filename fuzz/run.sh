#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each one for SECONDS (default
# 20), one after the other. Exits non-zero when any target finds something;
# the input that caused it is kept under build-fuzz/findings/.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
#
# Each target starts from its committed seed corpus (fuzz/corpus/<target>/)
# and grows a working corpus in fuzz/corpus-run/<target>/ (not committed), so
# later runs go on where the last one stopped. FUZZ_BUILD_DIR overrides the
# build folder, FUZZ_JOBS runs that many targets at once.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${1:-20}
shift || true
all_targets=(ini_workspace_fuzzer transact_fuzzer pollstream_fuzzer number_text_fuzzer)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${FUZZ_JOBS:-1}

if ! command -v clang++-14 >/dev/null; then
    . scripts/packages.sh
    install_packages clang-14 libfuzzer-14-dev
fi

mkdir -p "$build"
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" --target "${targets[@]}"

mkdir -p "$build/findings"
# Leaks count as findings; a slow input (a wait that never ends) does too.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_one() {
    local target=$1
    local seeds=$root/fuzz/corpus/$target
    local work=$root/fuzz/corpus-run/$target
    local max_len=4096 status=0
    [ "$target" = pollstream_fuzzer ] && max_len=20000
    mkdir -p "$work" "$seeds"
    echo "== $target: ${seconds}s"
    "$build/bin/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -max_len=$max_len -print_final_stats=1 \
        -artifact_prefix="$build/findings/$target-" "$work" "$seeds" \
        >"$build/$target.log" 2>&1 || status=$?
    grep -E '^(#[0-9]+.*(DONE|INITED)|stat::)' "$build/$target.log" | tail -n 12 || true
    if [ $status -ne 0 ]; then
        echo "!! $target: finding (exit $status); log: $build/$target.log"
        grep -A 30 -E 'ERROR|invariant broken|runtime error|deadly signal' "$build/$target.log" |
            head -n 60 || true
        return 1
    fi
}

failed=0
if [ "$jobs" -gt 1 ]; then
    pids=()
    for t in "${targets[@]}"; do
        run_one "$t" &
        pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p" || failed=1; done
else
    for t in "${targets[@]}"; do run_one "$t" || failed=1; done
fi
exit $failed
