# Sourced by the package checks: one line per check, and the run's result.
#   check DESCRIPTION COMMAND...   runs COMMAND; a failure marks the run
failures=0
check() {
    local description=$1
    shift
    if "$@"; then
        echo "ok: $description"
    else
        echo "FAILED: $description" >&2
        failures=$((failures + 1))
    fi
}
finish() {
    [ "$failures" -eq 0 ] || echo "$1: $failures check(s) failed" >&2
    [ "$failures" -eq 0 ]
}
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
exits_cleanly() {  # PID [SECONDS]: the process ends with status 0 in time (killed if not)
    local pid=$1 tries=$((${2:-20} * 5)) state
    while state=$(ps -o stat= -p "$pid") && [[ $state != Z* ]]; do
        tries=$((tries - 1))
        if [ "$tries" -le 0 ]; then
            echo "  process $pid is still running" >&2
            kill -KILL "$pid"
            wait "$pid" || true
            return 1
        fi
        sleep 0.2
    done
    wait "$pid"
}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
greets() {  # PORT VERSION: the program on PORT greets a client
    python3 "$here/greet.py" "$@"
}
