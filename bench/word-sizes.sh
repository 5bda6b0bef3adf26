#!/usr/bin/env bash
# The 32-bit plug-in process against the 64-bit one, under Wine: two
# instances of the Windows program in one prefix, one playing the gain test
# plug-in built for 64 bits, the other the same plug-in built for 32 bits
# (which it runs in corvel-plugin-host32.exe), timed side by side by the
# latency client of a Linux build.
#
#   bash bench/word-sizes.sh [--linux-build DIR] [--windows-build DIR]
#                            [client options: --sizes, --blocks, --rounds, --warmup]
# Defaults: build, build-win (both built already, the Windows one by
# scripts/windows-ci.sh), 128 frames.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux="$root/build"
windows="$root/build-win"
client_args=(--sizes 128)
while [ $# -gt 0 ]; do
  case "$1" in
    --linux-build) linux=$2; shift 2 ;;
    --windows-build) windows=$2; shift 2 ;;
    --sizes|--blocks|--rounds|--warmup) client_args+=("$1" "$2"); shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
cmake --build "$linux" -j2 --target corvel-bench-client >&2

export WINEPREFIX="$windows/wineprefix-bench" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
cp -a "$windows/wineprefix" "$WINEPREFIX"
. "$root/scripts/xvfb.sh"
start_xvfb word-sizes
pids=("$xvfb_pid")
trap 'kill "${pids[@]}" 2>/dev/null; wineserver -k; rm -rf "$WINEPREFIX"' EXIT
wineserver -p
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
targets=()
for word in 64:test-plugins 32:win32/test-plugins; do
  port=$(free_port)
  CORVEL_TEST_PORT=$port wine "$windows/corvel-vst-remote.exe" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.3; done
  targets+=(--target "name=${word%%:*}-bit plug-in process,kind=host,port=$port,plugin=$windows/${word#*:}/test_gain.dll")
done
"$linux/bench/corvel-bench-client" "${targets[@]}" "${client_args[@]}"
