#!/usr/bin/env bash
# Builds everything and runs the whole test suite twice: a normal build in
# build/, then an AddressSanitizer + UndefinedBehaviorSanitizer build in
# build-asan/; then every fuzz target for about 20 seconds. Installs the
# Debian packages it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_packages $BUILD_PACKAGES $TEST_PACKAGES

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600 | tee "$logs/plain.log"
# The Debian package, unpacked and run.
scripts/check-package.sh build

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNVIK_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 900 | tee "$logs/asan.log"

# Every fuzz target for about 20 seconds, from its committed seeds.
fuzz/run.sh 20

# The Windows DLLs and test programs, under Wine.
scripts/windows.sh

# ctest stops the pipeline above on a failure (pipefail), so reaching this
# line means both runs passed; count what ran.
count() { sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$1" | tail -1; }
total=$(($(count "$logs/plain.log") + $(count "$logs/asan.log")))
echo "suite: $total passed, 0 failed"
