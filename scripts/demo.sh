#!/usr/bin/env bash
# Runs Tarnvik against the instrument simulator: builds into build/ (or
# $TARNVIK_BUILD_DIR), starts vexa-sim with sim/demo.conf on pseudo terminals
# linked into a temporary folder, and opens the demo workspace docs/demo.lws
# (or the workspace given as the first argument). Without a display it runs
# the headless logger for a few rows instead. The simulator is stopped when
# this script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_packages $BUILD_PACKAGES $DEMO_PACKAGES

build="${TARNVIK_BUILD_DIR:-build}"
workspace="$(realpath "${1:-docs/demo.lws}")"
[ -f "$workspace" ] || { echo "demo: no workspace at $workspace" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target Tarnvik tarnvik-log vexa-sim \
    Veldabus2Drv VeldaASCII2Drv VexaUSBDrv

run="$(mktemp -d "${TMPDIR:-/tmp}/tarnvik-demo.XXXXXX")"
sim_pid=""
stop() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$run"
}
trap stop EXIT
trap 'exit 130' INT TERM

export VEXA_PORTS_DIR="$run/ports" VEXA_USB_DIR="$run/usb"
mkdir -p "$VEXA_PORTS_DIR" "$VEXA_USB_DIR"
"$build"/bin/vexa-sim --config sim/demo.conf >"$run/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^ready' "$run/sim.out" && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$run/sim.out" >&2; echo "demo: vexa-sim ended" >&2; exit 1; }
    sleep 0.1
done
grep -q '^ready' "$run/sim.out" || { cat "$run/sim.out" >&2; echo "demo: vexa-sim is not ready" >&2; exit 1; }
sed 's/^/vexa-sim: /' "$run/sim.out"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display (DISPLAY and WAYLAND_DISPLAY are empty), so no window;"
    echo "demo: logging 5 rows of $workspace with the headless tarnvik-log instead:"
    "$build"/bin/tarnvik-log --rows 5 --log "$run/demo.csv" "$workspace"
    cat "$run/demo.csv"
else
    echo "demo: starting Tarnvik on $workspace (close its window to end the demo)"
    "$build"/bin/Tarnvik "$workspace"
fi
