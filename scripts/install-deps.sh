#!/usr/bin/env bash
# Installs what building and testing need on Debian (run as root or with sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build
  libcivetweb-dev libx11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  g++-multilib  # a 32-bit test plug-in, which the program must refuse with the reason
  xvfb xauth
  clang libclang-rt-14-dev  # the fuzz target (scripts/fuzz.sh)
  clang-format clang-tidy  # scripts/check-format.sh and scripts/lint.sh
  chromium
  # Real plug-ins for the compatibility suite (tests/compat).
  dpf-plugins-vst dragonfly-reverb-vst lsp-plugins-vst amsynth
)
build_packages=(build-essential cmake ninja-build libcivetweb-dev libx11-dev nlohmann-json3-dev)
# Both packages (scripts/package.sh): the Linux build, the Windows cross
# build, NSIS and the Debian tools; their checks add lintian, Wine and Xvfb.
packaging=("${build_packages[@]}" python3 dpkg-dev xz-utils nsis
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
if [ "${1:-}" = "--runtime-only" ]; then
  packages=("${build_packages[@]}")
elif [ "${1:-}" = "--packaging" ]; then
  packages=("${packaging[@]}")
elif [ "${1:-}" = "--packaging-checks" ]; then
  packages=("${packaging[@]}" lintian wine wine64 xvfb xauth)
elif ! command -v npm >/dev/null; then
  # The JavaScript client's tests; a Node installed some other way is used as it is.
  packages+=(nodejs npm)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
