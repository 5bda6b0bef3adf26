#!/usr/bin/env bash
# Builds the Windows installer from a Windows build:
#   packaging/windows/make-installer.sh VERSION BUILD_DIR OUT_DIR PROGRAM...
# Every PROGRAM.exe of the build goes into the install folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
version=$1 build=$2 out=$3
shift 3

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
{
  echo '!macro ProgramFiles action'
  for program in "$@"; do
    x86_64-w64-mingw32-strip -o "$stage/$program.exe" "$build/$program.exe"
    echo "    !insertmacro \${action} \"$program.exe\""
  done
  echo '!macroend'
} >"$stage/programs.nsh"
# The server library is linked in; its licence travels with it.
civetweb=$(sed -n 's/^CORVEL_CIVETWEB_SOURCE_DIR:PATH=//p' "$build/CMakeCache.txt")
cp "$civetweb/LICENSE.md" "$stage/civetweb-license.txt"

mkdir -p "$out"
setup=$out/corvel-vst-remote-$version-setup.exe
makensis -V2 -DVERSION="$version" -DPROGRAMS="$stage/programs.nsh" -DSTAGE="$stage" \
  -DICON="$build/icons/corvel-app.ico" -DOUTFILE="$setup" "$here/corvel-vst-remote.nsi"
echo "$setup"
