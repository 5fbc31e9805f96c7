#!/usr/bin/env bash
# Checks the Debian package: builds it with cpack in the build folder ($1,
# default build/), unpacks it into a temporary root with dpkg-deb -x,
# validates its desktop entry, logs a few rows with the unpacked tarnvik-log
# against the unpacked vexa-sim, and starts the unpacked Tarnvik offscreen on
# the demo workspace for a moment, checking that it reads the instruments.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/sim-helpers.sh
build="$(realpath "${1:-build}")"

root="$(mktemp -d "${TMPDIR:-/tmp}/tarnvik-package.XXXXXX")"
trap 'stop_children; rm -rf "$root"' EXIT

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
deb="$build/tarnvik_${version}_amd64.deb"
rm -f "$deb"
(cd "$build" && cpack -G DEB >"$root/cpack.log" 2>&1) || { cat "$root/cpack.log" >&2; exit 1; }
[ -f "$deb" ] || { echo "package: no $deb" >&2; exit 1; }
echo "package: $(basename "$deb"), depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || { echo "package: no Qt dependency" >&2; exit 1; }

tree="$root/tree"
dpkg-deb -x "$deb" "$tree"
bin="$tree/usr/bin"
for f in bin/Tarnvik bin/tarnvik-log bin/vexa-sim lib/tarnvik/libVeldabus2Drv.so \
    lib/tarnvik/libVeldaASCII2Drv.so lib/tarnvik/libVexaUSBDrv.so \
    share/icons/hicolor/48x48/apps/tarnvik.png share/tarnvik/demo.lws; do
    [ -f "$tree/usr/$f" ] || { echo "package: /usr/$f is missing" >&2; exit 1; }
done
desktop-file-validate "$tree/usr/share/applications/tarnvik.desktop"

# A home of its own, so nothing of the user's settings is read or written.
export HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" QT_QPA_PLATFORM=offscreen
export VEXA_PORTS_DIR="$root/ports" VEXA_USB_DIR="$root/usb"
mkdir -p "$HOME/Documents" "$VEXA_PORTS_DIR" "$VEXA_USB_DIR"
start_sim "$bin/vexa-sim" "$root/sim.out" --config "$tree/usr/share/tarnvik/demo.conf" \
    --trace "$root/trace"

"$bin/tarnvik-log" --rows 3 --log "$root/rows.csv" "$tree/usr/share/tarnvik/demo.lws" 2>/dev/null
rows=$(($(wc -l <"$root/rows.csv") - 1))
[ "$rows" -eq 3 ] || { echo "package: tarnvik-log wrote $rows rows, not 3" >&2; exit 1; }
echo "package: tarnvik-log logged $rows rows"

# The window program reads the bus line from its first pass on; it must
# still be running when stopped, and its requests must reach the simulator.
before=$(grep -c ' rx ' "$root/trace" || true)
"$bin/Tarnvik" "$tree/usr/share/tarnvik/demo.lws" >"$root/tarnvik.out" 2>&1 &
tarnvik=$!
sleep 3
kill -0 "$tarnvik" 2>/dev/null || { cat "$root/tarnvik.out" >&2; echo "package: Tarnvik ended" >&2; exit 1; }
kill -TERM "$tarnvik"
wait "$tarnvik" 2>/dev/null || true
after=$(grep -c ' rx ' "$root/trace" || true)
[ "$after" -gt "$before" ] || { echo "package: Tarnvik read no instrument" >&2; exit 1; }
echo "package: Tarnvik ran offscreen and sent $((after - before)) requests"
