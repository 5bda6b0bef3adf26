#!/usr/bin/env bash
# Builds the benchmark, starts a bare echo server, the host and the host with
# the library's default options on free loopback ports, times audio round
# trips through all three side by side, and counts instructions per block
# under callgrind. Prints one table; docs/performance.md explains it.
#
#   bash bench/run.sh [--build-dir DIR] [--no-build] [--smoke] [--no-instructions]
#                     [--plugin PATH] [client options: --sizes, --blocks, --rounds, --warmup]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
do_build=1
smoke=0
instructions=1
plugin=""
client_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --smoke) smoke=1; instructions=0; shift ;;
    --no-instructions) instructions=0; shift ;;
    --plugin) plugin=$2; shift 2 ;;
    --sizes|--blocks|--rounds|--warmup) client_args+=("$1" "$2"); shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

if [ $do_build = 1 ]; then
  bash "$root/scripts/install-deps.sh"
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j2 --target bench_programs
fi

expect=(--expect half)
if [ -z "$plugin" ]; then
  plugin="$build/test-plugins/test_gain.so"
else
  expect=(--expect any)  # only the gain test plug-in's output is known
fi

work=$(mktemp -d /tmp/corvel-bench-XXXXXX)
source "$root/bench/servers.sh"
trap 'stop_servers; rm -rf "$work"' EXIT

# Headless: no editor windows, nothing but the audio path on the GUI thread.
unset DISPLAY CORVEL_TEST_PLUGIN_LOG CORVEL_BENCH_NO_NODELAY

CORVEL_BENCH_COUNTERS="$work/echo.counters" \
  start_server echo "$build/bench/corvel-bench-echo" @PORT@
echo_port=$port
CORVEL_BENCH_COUNTERS="$work/host.counters" \
  start_server host "$build/bench/corvel-vst-remote-bench"
host_port=$port
CORVEL_BENCH_COUNTERS="$work/default.counters" CORVEL_BENCH_NO_NODELAY=1 \
  start_server default "$build/bench/corvel-vst-remote-bench"
default_port=$port

# Without tcp_nodelay a round trip takes about 40 ms: a hundred blocks in a
# row (a few seconds) show it.
default_turns="blocks=20,rounds=5"
if [ $smoke = 1 ]; then
  client_args=(--sizes 128,4096 --blocks 100 --rounds 2 --warmup 10 --require-no-new)
  default_turns="blocks=5,rounds=2"
fi

# Timing first, while nothing of ours but the servers and the client runs.
echo "Timing round trips..." >&2
"$build/bench/corvel-bench-client" \
  --target "name=echo,kind=echo,port=$echo_port,counters=$work/echo.counters" \
  --target "name=host,kind=host,port=$host_port,counters=$work/host.counters" \
  --target "name=host without tcp_nodelay,kind=host,port=$default_port,counters=$work/default.counters,$default_turns" \
  --plugin "$plugin" "${expect[@]}" "${client_args[@]}" >"$work/timing.md" || {
  cat "$work/timing.md"
  exit 1
}
stop_servers

if [ $instructions = 0 ]; then
  cat "$work/timing.md"
  exit 0
fi
echo "Counting instructions under callgrind (a minute or two)..." >&2
bash "$root/bench/instructions.sh" --build-dir "$build" --plugin "$plugin" "${expect[@]}" \
  --rows "$work/instructions.tsv" >/dev/null
# One table: the instruction counts join the rows of the echo and the host
# (the host without tcp_nodelay runs the same code).
awk -F '\t' -v counts="$work/instructions.tsv" '
  BEGIN { while ((getline line < counts) > 0) { split(line, f, "\t"); whole[f[1] " " f[2]] = f[3]; own[f[1] " " f[2]] = f[4] } }
  /^\| frames \|/ { print $0 " instructions/block | own instructions/block |"; next }
  /^\|---/ { print $0 "---:|---:|"; next }
  /^\| [0-9]/ {
    split($0, cell, " \\| ")
    key = substr(cell[1], 3) " " cell[2]
    if (key in whole) print $0 " " whole[key] " | " own[key] " |"
    else print $0 " - | - |"
    next
  }
  { print }' "$work/timing.md"
