#!/usr/bin/env bash
# Builds the Windows driver DLLs for 64-bit (build-win64/) and 32-bit
# (build-win32/) Windows with mingw-w64, and for 64-bit the logic without a
# toolkit with its tests; checks the DLLs' exports, imports and calling
# convention with objdump, and runs the Windows test programs under Wine
# (64-bit only: this machine runs no 32-bit programs). The driver test talks
# to vexa-sim, built for Linux in build/, whose pseudo terminals Wine sees as
# COM1 and COM2. Installs the Debian packages it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_packages $BUILD_PACKAGES $WINDOWS_PACKAGES

jobs=$(nproc)
launcher=()
command -v ccache > /dev/null &&
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# The simulator runs on the Linux side.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" > /dev/null
cmake --build build -j "$jobs" --target vexa-sim

# The test programs only where they can run.
for arch in x86_64:win64:ON i686:win32:OFF; do
    IFS=: read -r cpu dir tests <<< "$arch"
    cmake -S . -B "build-$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$cpu-w64-mingw32.cmake" \
        -DTARNVIK_WINDOWS_TESTS="$tests" > /dev/null
    cmake --build "build-$dir" -j "$jobs"
done

# Each DLL's entries with the bytes of arguments a stdcall entry removes.
serial="OPENPORT=8 CLOSEPORT=0 SETTIMEOUT=4 GETTIMEOUT=0 VERSION=0"
bus="$serial READCOMMAND=12 WRITECOMMAND=12 EXECUTECOMMAND=8"
ascii="$serial READCOMMAND=12 WRITECOMMAND=12 EXECUTECOMMAND=8 POLLSTREAM=4 SENDXON=0 SENDXOFF=0"
usb="OPENPORT=0 CLOSEPORT=0 SETTIMEOUT=4 GETTIMEOUT=0 VERSION=0 READCOMMAND=12 WRITECOMMAND=12
     EXECUTECOMMAND=8"
failed=0
for lib in Veldabus2Drv:bus VeldaASCII2Drv:ascii VexaUSBDrv:usb; do
    name=${lib%%:*}
    key=${lib#*:}
    entries=${!key}
    # shellcheck disable=SC2086
    sh tests/windows/check_dll.sh i686-w64-mingw32-objdump "build-win32/bin/$name.dll" $entries ||
        failed=1
    # shellcheck disable=SC2086
    sh tests/windows/check_dll.sh x86_64-w64-mingw32-objdump "build-win64/bin/$name.dll" \
        $(printf '%s\n' $entries | sed 's/=.*//') || failed=1
done

# A Wine of its own, headless, gone at the end.
work=$(mktemp -d)
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2> /dev/null && wait "$sim_pid" 2> /dev/null
    wineserver -k 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
wineboot -i > /dev/null 2>&1

mkdir -p "$work/ports"
build/bin/vexa-sim --config tests/windows/wire.conf --ports-dir "$work/ports" \
    --trace "$work/trace" --control "$work/control" > "$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.log" && break; sleep 0.1; done
grep -q '^ready' "$work/sim.log" || { cat "$work/sim.log"; exit 1; }
# Wine opens COM<N> through the link dosdevices/com<N>.
for n in 1 2; do
    ln -sf "$(readlink -f "$work/ports/COM$n")" "$WINEPREFIX/dosdevices/com$n"
done

# Debian keeps the 64-bit loader out of PATH.
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
windows_path() { echo "Z:$1" | tr / '\\'; }
export VEXA_SIM_TRACE VEXA_SIM_CONTROL VEXA_SIM_LOG
VEXA_SIM_TRACE=$(windows_path "$work/trace")
VEXA_SIM_CONTROL=$(windows_path "$work/control")
VEXA_SIM_LOG=$(windows_path "$work/sim.log")
# The driver test, and the logic's tests (their fake driver DLLs are found
# by their path in the build, which Wine reaches through Z:).
for test in build-win64/bin/*_tests.exe; do
    echo "== $test"
    "$wine64" "$test" || failed=1
done

[ $failed -eq 0 ] && echo "windows: all checks passed" || echo "windows: FAILED"
exit $failed
