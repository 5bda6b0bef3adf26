#!/usr/bin/env bash
# Builds the Windows installer and the Debian package into dist/:
#   bash scripts/package.sh
# Installs what it needs with apt-get (as root, or through sudo) and makes
# release builds in build-package/. CORVEL_LINUX_BUILD and
# CORVEL_WINDOWS_BUILD may name existing build folders to take the programs
# from instead (CI passes the ones its tests built).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh --packaging

# What the packages carry: each program and the folder the .deb puts it in;
# the plug-in process sits beside the program, where the program starts it.
programs=(
  corvel-vst-remote:usr/bin
  corvel-plugin-host:usr/bin
)
names=("${programs[@]%%:*}")
# The installer puts every one into its install folder, as NAME.exe; the
# 32-bit plug-in process comes from the Windows build's 32-bit sub-build.
windows_names=(corvel-vst-remote corvel-plugin-host corvel-plugin-host32)

build() {  # folder, programs (space-separated), extra cmake arguments...
  local folder=$1 targets=$2
  shift 2
  if [ ! -f "$folder/CMakeCache.txt" ]; then
    cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=Release -DCORVEL_BUILD_TESTS=OFF "$@" >/dev/null
  fi
  # shellcheck disable=SC2086  # one target per word
  cmake --build "$folder" -j2 --target $targets
}
linux_build=$(realpath -m "${CORVEL_LINUX_BUILD:-build-package/linux}")
windows_build=$(realpath -m "${CORVEL_WINDOWS_BUILD:-build-package/windows}")
# Debian's hardening flags for a build of our own.
hardening() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
build "$linux_build" "${names[*]}" -DCORVEL_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS="$(hardening CXXFLAGS) $(hardening CPPFLAGS)" \
  -DCMAKE_C_FLAGS="$(hardening CFLAGS) $(hardening CPPFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(hardening LDFLAGS)"
build "$windows_build" "corvel-vst-remote corvel-plugin-host corvel_host32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"

# One version, set in CMake's project(); what cannot be generated from it
# must agree with it.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$linux_build/CMakeCache.txt")
disagree() {
  echo "package: $1 says version $2, CMake says $version" >&2
  exit 1
}
windows_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$windows_build/CMakeCache.txt")
[ "$windows_version" = "$version" ] || disagree "$windows_build" "$windows_version"
client_version=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["version"])' \
  clients/js/package.json)
[ "$client_version" = "$version" ] || disagree clients/js/package.json "$client_version"
changelog_version=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' packaging/linux/changelog)
[ "$changelog_version" = "$version" ] || disagree packaging/linux/changelog "$changelog_version"

rm -rf dist
bash packaging/linux/make-deb.sh "$version" "$linux_build" "$root/dist" "${programs[@]}"
bash packaging/windows/make-installer.sh "$version" "$windows_build" "$root/dist" "${windows_names[@]}"
