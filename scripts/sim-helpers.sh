# Helpers for scripts that run the programs against vexa-sim: source it, call
# start_sim, and stop_children from an EXIT trap.

child_pids=()

# start_sim VEXA_SIM OUTPUT_FILE ARGS...: starts the simulator in the
# background and waits (up to 10 s) until it prints "ready".
start_sim() {
    local sim="$1" out="$2"
    shift 2
    "$sim" "$@" >"$out" 2>&1 &
    child_pids+=($!)
    local pid=$!
    for _ in $(seq 100); do
        grep -q '^ready' "$out" && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$out" >&2
    echo "vexa-sim did not become ready" >&2
    return 1
}

# wait_for PATH: waits up to 10 s for a file or link to appear.
wait_for() {
    for _ in $(seq 100); do
        [ -e "$1" ] && return 0
        sleep 0.1
    done
    echo "$1 did not appear" >&2
    return 1
}

# Ends every background child started by these scripts, newest first.
stop_children() {
    local i
    for ((i = ${#child_pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${child_pids[i]}" 2>/dev/null || true
        wait "${child_pids[i]}" 2>/dev/null || true
    done
}
