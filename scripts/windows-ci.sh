#!/usr/bin/env bash
# Cross-builds the Windows program with mingw-w64 and runs the Windows checks
# under Wine on one private X display.
#   scripts/windows-ci.sh [--prepare] [BUILD_DIR]     (default: build-win)
# --prepare only builds and makes the Wine prefix, so that this can run in
# the background of other work; a later run without it checks.
# Installs the Debian packages it needs when run as root.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
prepareOnly=0
[ "${1:-}" = --prepare ] && { prepareOnly=1; shift; }
build=${1:-$root/build-win}

packages="cmake make python3 dpkg-dev xz-utils g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 nlohmann-json3-dev wine wine64 xvfb"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing="$missing $package"
done
if [ -n "$missing" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "windows-ci: missing packages:$missing" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
fi

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
cmake --build "$build" -j2

# The prepared prefix; each round of tests runs on a fresh copy of it.
pristine="$build/wineprefix"
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG WINEDLLOVERRIDES
WINEPREFIX="$pristine" "$root/scripts/wine-prefix.sh"
[ "$prepareOnly" = 1 ] && exit 0

# One display for every Wine process.
. "$root/scripts/xvfb.sh"
start_xvfb windows-ci
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT

status=0
"$root/scripts/wine-rounds.sh" "$pristine" "$build" -L windows -j2 || status=1

# The shared integration suite of a Linux build, against the Windows program:
#   CORVEL_LINUX_BUILD=build scripts/windows-ci.sh
# Tests of what only the Linux program has (its folders, signals, X11
# windows) skip themselves; the Windows checks above cover those. The
# stress run is left to the Linux builds (plain and sanitized): over Wine's
# slow loopback it measures Wine.
if [ -n "${CORVEL_LINUX_BUILD:-}" ]; then
    CORVEL_PROGRAM="$root/scripts/wine-run.sh $build/corvel-vst-remote.exe" \
    CORVEL_PLUGIN_DIR="$build/test-plugins" CORVEL_PLUGIN_SUFFIX=.dll \
        "$root/scripts/wine-rounds.sh" "$pristine" "$CORVEL_LINUX_BUILD" -L integration -j3 -E StressTest \
        || status=1
fi
exit $status
