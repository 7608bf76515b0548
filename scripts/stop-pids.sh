# Stops processes by their PIDs, in the order given: each is asked to end (SIGTERM), then given three seconds before
# it is killed. Sourced by the test rigs.
stop_pids() {
    local pid
    for pid in "$@"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "$@"; do
        for _ in $(seq 30); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    done
}
