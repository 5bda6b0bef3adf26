# Sourced by the Wine scripts: starts an Xvfb that picks a free display
# itself, so parallel runs never collide.
#   . scripts/xvfb.sh; start_xvfb NAME || exit 1
# Sets xvfb_pid and exports DISPLAY; NAME prefixes the error message. The
# server runs in a session of its own and does not hold descriptor 8 (the
# callers' lock).
start_xvfb() {
    xvfb_display_file=$(mktemp)
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
        3>"$xvfb_display_file" </dev/null >/dev/null 2>&1 8>&- &
    xvfb_pid=$!
    xvfb_tries=0
    while [ ! -s "$xvfb_display_file" ]; do
        xvfb_tries=$((xvfb_tries + 1))
        if [ "$xvfb_tries" -gt 100 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "$1: Xvfb did not start" >&2
            kill "$xvfb_pid" 2>/dev/null || true
            rm -f "$xvfb_display_file"
            return 1
        fi
        sleep 0.1
    done
    DISPLAY=:$(cat "$xvfb_display_file")
    export DISPLAY
    rm -f "$xvfb_display_file"
}
