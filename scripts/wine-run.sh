#!/bin/sh
# Runs a Windows program under Wine the way the checks need it:
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
# Uses $WINEPREFIX (created on first use), keeps Wine quiet and execs wine,
# so the caller's process id is the program's and its exit status and
# signals pass straight through.
#
# Every process of one prefix shares one Wine desktop and so must share one
# X display. Without $DISPLAY, one Xvfb is started for the prefix on first
# use and reused by later runs; it is recorded in the prefix and left
# running (scripts/windows-ci.sh sets up its own display instead).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=${CORVEL_WINEPREFIX:-$HOME/.wine}}"
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
"$here/wine-prefix.sh"

if [ -z "${DISPLAY:-}" ]; then
    record="$WINEPREFIX/.corvel-display"
    exec 8>"$WINEPREFIX.display.lock"
    flock 8
    if [ -s "$record" ] && kill -0 "$(cut -d' ' -f1 "$record")" 2>/dev/null; then
        DISPLAY=:$(cut -d' ' -f2 "$record")
    else
        . "$here/xvfb.sh"
        start_xvfb wine-run || exit 1
        echo "$xvfb_pid ${DISPLAY#:}" >"$record"
    fi
    exec 8>&-
    export DISPLAY
fi
exec wine "$@"
