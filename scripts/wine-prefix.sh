#!/bin/sh
# Creates the Wine prefix that the Windows checks run in ($WINEPREFIX, or
# Wine's default), once. Safe to call from several processes at a time.
set -eu
: "${WINEPREFIX:=${CORVEL_WINEPREFIX:-$HOME/.wine}}"
: "${WINEDEBUG:=-all}"
# No prompts to install the .NET and HTML runtimes: nothing here needs them.
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES

ready="$WINEPREFIX/.corvel-prefix-ready"
[ -f "$ready" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$ready" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$ready"
fi
