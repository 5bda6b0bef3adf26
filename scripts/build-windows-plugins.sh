#!/usr/bin/env bash
# Builds the VST 2 plug-ins of Debian's dpf-plugins source package as
# Windows DLLs with mingw-w64, for the Windows compatibility suite:
#
#   scripts/build-windows-plugins.sh DEST [x86_64|i686 ...]     (default: both)
#
# DEST/<architecture>/ receives the DLLs. The source (DEST/source) and each
# finished architecture are kept, so a second run in the same build folder
# costs nothing. The architectures build side by side, one plug-in at a time
# each: a plug-in has too few files to keep two compilers busy.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dest=${1:?usage: build-windows-plugins.sh DEST [x86_64|i686 ...]}
shift
architectures=("$@")
[ ${#architectures[@]} -gt 0 ] || architectures=(x86_64 i686)

# Every plug-in of the package that builds for Windows. ProM does not: its
# projectM needs GLEW, which Debian has for no mingw-w64 compiler. The
# ones without an editor need no drawing library.
plugins=(3BandEQ 3BandSplitter AmplitudeImposer CycleShifter MVerb Nekobi PingPongPan SoulForce glBars
         Kars bitcrush freeverb gigaverb pitchshift)

mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
sh "$here/debian-source.sh" dpf-plugins "$dest"

build() {  # architecture
    local arch=$1 tree="$dest/tree-$1"
    [ -f "$dest/$arch.done" ] && return 0
    rm -rf "$tree" "$dest/$arch"
    cp -a "$dest/source" "$tree"
    export CC=$arch-w64-mingw32-gcc-posix CXX=$arch-w64-mingw32-g++-posix AR=$arch-w64-mingw32-ar
    # The OpenGL flavour of the drawing library is the only one the editors use.
    make -C "$tree/dpf/dgl" FILE_BROWSER_DISABLED=true opengl >"$dest/$arch.log" 2>&1 || {
        echo "build-windows-plugins: the drawing library failed for $arch (see $dest/$arch.log)" >&2
        return 1
    }
    for plugin in "${plugins[@]}"; do
        make -C "$tree/plugins/$plugin" vst2 >>"$dest/$arch.log" 2>&1 || {
            echo "build-windows-plugins: $plugin failed for $arch (see $dest/$arch.log)" >&2
            return 1
        }
    done
    mkdir -p "$dest/$arch"
    mv "$tree"/bin/*-vst.dll "$dest/$arch/"
    rm -rf "$tree"
    touch "$dest/$arch.done"
    echo "build-windows-plugins: $(ls "$dest/$arch" | wc -l) plug-ins for $arch in $dest/$arch"
}

pids=()
for arch in "${architectures[@]}"; do
    build "$arch" &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
