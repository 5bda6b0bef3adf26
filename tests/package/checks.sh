# Sourced by the package checks: one line per check, and the run's result.
failures=0
check() {  # DESCRIPTION COMMAND...: runs COMMAND; a failure marks the run
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
exits_cleanly() {  # PID: the process ends with status 0 within 20 s (killed if not)
    local tries=100
    while [[ $(ps -o stat= -p "$1") != Z* ]] && kill -0 "$1" 2>/dev/null; do
        if [ $((tries -= 1)) -le 0 ]; then
            echo "  process $1 is still running" >&2
            kill -KILL "$1"
            wait "$1" || true
            return 1
        fi
        sleep 0.2
    done
    wait "$1"
}
greets() {  # PORT VERSION: the program on PORT greets a WebSocket client with its banner
    local banner="corvel studio plugin loader"$'\n'"version $2" status line expected got tries=300
    until exec 3<>"/dev/tcp/127.0.0.1/$1"; do  # while it starts
        [ $((tries -= 1)) -gt 0 ] || return 1
        sleep 0.2
    done 2>/dev/null
    printf 'GET / HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n%s\r\n\r\n' "$1" \
        $'Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13' >&3
    IFS= read -r -t 10 status <&3
    while IFS= read -r -t 10 line <&3 && [ "$line" != $'\r' ]; do :; done
    # One text frame (0x81, then the length) holding the banner.
    expected=$(printf "\\201\\$(printf %03o ${#banner})%s" "$banner" | LC_ALL=C od -An -c)
    got=$(timeout 10 head -c $((2 + ${#banner})) <&3 | LC_ALL=C od -An -c)
    exec 3<&-
    [ "$got" = "$expected" ] || { echo "  answered ${status%$'\r'}, then:$got" >&2; return 1; }
}
