#!/usr/bin/env bash
# Cross-builds the Windows program with mingw-w64 and runs the Windows checks
# under Wine on one private X display, then the compatibility suite: Debian's
# dpf-plugins built as Windows DLLs of both word sizes, through the program.
#   scripts/windows-ci.sh [--prepare] [BUILD_DIR]     (default: build-win)
# --prepare only installs, builds and makes the Wine prefix, so that
# scripts/test.sh can do that in the background while the Linux stages run.
# Installs the Debian packages it needs when run as root; 32-bit Wine
# (wine32) and the OpenGL of 32-bit editors come from the i386 architecture,
# which it adds to dpkg.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
prepareOnly=0
[ "${1:-}" = --prepare ] && { prepareOnly=1; shift; }
build=${1:-$root/build-win}

packages="cmake make python3 dpkg-dev xz-utils g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          nlohmann-json3-dev g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine64 wine32:i386 xvfb
          libgl1:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing="$missing $package"
done
if [ -n "$missing" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "windows-ci: missing packages:$missing" >&2
        exit 1
    fi
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 $missing
fi

# Line tables only, and unity builds (eight units compiled as one): a
# quarter less processor time.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCORVEL_DEBUG_INFO=lines -DCMAKE_UNITY_BUILD=ON
# The real plug-ins build beside the program, one compiler each: theirs
# have too few files apiece to keep two busy. After the configure step,
# which may have set up apt's source entries.
plugins="$build/windows-plugins"
bash "$root/scripts/build-windows-plugins.sh" "$plugins" x86_64 i686 >"$build/windows-plugins.log" 2>&1 &
pluginBuild=$!
cmake --build "$build" -j2
pluginsBuilt=0
wait "$pluginBuild" && pluginsBuilt=1

# The prepared prefix; each round of tests runs on a fresh copy of it.
pristine="$build/wineprefix"
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG WINEDLLOVERRIDES
WINEPREFIX="$pristine" "$root/scripts/wine-prefix.sh"
if [ "$prepareOnly" = 1 ]; then
    [ "$pluginsBuilt" = 1 ] || cat "$build/windows-plugins.log" >&2
    exit $((1 - pluginsBuilt))
fi

# One display for the checks' Wine processes.
. "$root/scripts/xvfb.sh"
start_xvfb windows-ci
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT

# The compatibility suite runs beside the checks, on a display and a copy
# of the prefix of its own (they mostly wait on Wine, and the checks' key
# presses must not reach its editors). Its plug-ins are in the folders the
# scan walks, as an installer would put them; the 32-bit ones where 32-bit
# plug-ins go.
compat() {
    local prefix="$build/wineprefix-compat"
    rm -rf "$prefix" "$build"/compat/*.tsv
    cp -a "$pristine" "$prefix"
    for folder in "Program Files/VSTPlugins:x86_64" "Program Files (x86)/VSTPlugins:i686"; do
        mkdir -p "$prefix/drive_c/${folder%:*}/dpf-plugins"
        cp "$plugins/${folder##*:}"/*.dll "$prefix/drive_c/${folder%:*}/dpf-plugins/"
    done
    start_xvfb windows-compat || return 1
    local result=0
    "$root/scripts/wine-rounds.sh" "$prefix" "$build" -L wincompat -j4 || result=1
    kill "$xvfb_pid"
    return $result
}
if [ "$pluginsBuilt" = 1 ]; then
    (compat) >"$build/wincompat.log" 2>&1 &
    compatRun=$!
else
    cat "$build/windows-plugins.log" >&2
fi

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
    # Its plug-in tests again with the test plug-ins built for 32 bits,
    # which the program runs in corvel-plugin-host32.exe: load, audio, MIDI,
    # state, crashes and relaunch.
    CORVEL_PROGRAM="$root/scripts/wine-run.sh $build/corvel-vst-remote.exe" \
    CORVEL_PLUGIN_DIR="$build/win32/test-plugins" CORVEL_PLUGIN_SUFFIX=.dll \
        "$root/scripts/wine-rounds.sh" "$pristine" "$CORVEL_LINUX_BUILD" -L integration -j3 \
        -R '^(LifecycleTest|AudioTest|StateTest|CrashTest|EditorCrashTest)\.' || status=1
fi

echo "--- the compatibility suite:"
if [ "$pluginsBuilt" = 1 ] && wait "$compatRun"; then
    cat "$build/wincompat.log"
else
    [ "$pluginsBuilt" = 1 ] && cat "$build/wincompat.log"
    status=1
fi
exit $status
