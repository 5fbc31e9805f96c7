#!/usr/bin/env bash
# An ASCII line behind a network serial server: vexa-sim's COM2 served on a
# TCP port of 127.0.0.1 by socat (the server's side), and a second socat
# turning that port back into a pseudo terminal linked as COM5 into the ports
# folder (the logger's side). tarnvik-log must log real readings through it.
# Arguments: the folder of the built programs, the source folder.
set -euo pipefail
export LC_ALL=C.UTF-8
bin="$1"
src="$2"
command -v socat >/dev/null || { echo "socat is not installed"; exit 77; }
. "$src/scripts/sim-helpers.sh"
run="$(mktemp -d "${TMPDIR:-/tmp}/socat-bridge.XXXXXX")"
trap 'stop_children; rm -rf "$run"' EXIT
export HOME="$run" XDG_CONFIG_HOME="$run/.config" VEXA_PORTS_DIR="$run/ports"
mkdir -p "$VEXA_PORTS_DIR"

start_sim "$bin/vexa-sim" "$run/sim.out" --config "$src/sim/demo.conf" \
    --ports-dir "$run/sim-ports" --usb-dir "$run/sim-usb"

# A free port: socat fails at once when the one drawn is taken.
for _ in $(seq 20); do
    port=$((20000 + RANDOM % 40000))
    socat TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork FILE:"$run/sim-ports/COM2",raw,echo=0 \
        2>"$run/server.err" &
    server=$!
    sleep 0.2
    kill -0 "$server" 2>/dev/null && break
done
child_pids+=("$server")
socat PTY,link="$VEXA_PORTS_DIR/COM5",raw,echo=0 TCP:127.0.0.1:$port 2>"$run/client.err" &
child_pids+=($!)
wait_for "$VEXA_PORTS_DIR/COM5"

sed 's/^Port=2\b/Port=5/' "$src/docs/demo-ascii.lws" >"$run/bridge.lws"
"$bin/tarnvik-log" --rows 3 --log "$run/rows.csv" "$run/bridge.lws" 2>"$run/log.err" ||
    { cat "$run/log.err" "$run/server.err" "$run/client.err"; exit 1; }
cat "$run/rows.csv"
# Both instruments answer: the load cell reads about 1234.5, the supply
# about 3.3 (the workspace logs 0 for a channel that fails).
awk -F, 'NR > 1 { if ($4 < 1200 || $4 > 1270 || $5 < 3 || $5 > 3.6) bad = 1; n++ }
         END { exit (bad || n != 3) }' "$run/rows.csv"
echo "3 rows read through the TCP bridge"
