#!/usr/bin/env bash
# Builds the tree with gcc's coverage counters in build-cov/, runs the whole
# test suite there and prints the line coverage of the product code (app/,
# drivers/, sim/); the tests, benchmarks and generated sources are left out.
# Counters from an earlier run are cleared first, so each run stands alone.
#
#   scripts/coverage.sh [BUILD_DIR]
#
# COVERAGE_JOBS sets the build and test parallelism (default: nproc).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_packages $BUILD_PACKAGES $COVERAGE_PACKAGES

build=${1:-build-cov}
jobs=${COVERAGE_JOBS:-$(nproc)}
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Without optimisation every line keeps its own counter.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" \
    -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage \
    -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage
cmake --build "$build" -j "$jobs"

find "$build" -name '*.gcda' -delete
# A failing test still leaves its counters; the figure is printed either way
# and the exit status tells the failure.
status=0
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" -j "$jobs" --timeout 900 \
    --output-on-failure || status=$?

root=$(pwd)
# The per-file table goes to coverage.txt; the summary to the terminal. A
# process killed while writing its counters (the fault tests do that) can
# leave one file unreadable: it is passed over, not fatal.
gcovr --root "$root" --object-directory "$build" -j "$jobs" \
    --filter "$root/app/" --filter "$root/drivers/" --filter "$root/sim/" \
    --exclude-directories ".*/CMakeFiles/[0-9][^/]*" --gcov-ignore-parse-errors \
    --txt "$build/coverage.txt" --print-summary "$build" |
    sed 's/^lines: /product line coverage: /'
exit $status
