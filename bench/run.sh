#!/usr/bin/env bash
# Builds the benchmark, starts the floors (raw TCP, a hand-off between two
# processes, raw TCP with such a hand-off per message, a bare echo server on
# the same library), the host with its plug-in in a plug-in process, the host
# with it in process, and the host on the library's default options, on free
# loopback ports; times audio round trips through all of them side by side,
# and counts instructions per block under callgrind. The parameter test
# plug-in's sessions time blocks with parameter records against blocks
# without, and its own moves' way back as events; the multi-output test
# plug-in's, replies of 16 channels against replies of two. Prints the
# tables that docs/performance.md explains.
#
#   bash bench/run.sh [--build-dir DIR] [--no-build] [--smoke] [--no-instructions]
#                     [--sessions-seconds N] [--render-seconds N] [--plugin PATH]
#                     [--repeat N] [client options: --sizes, --blocks, --rounds, --warmup]
# A table of parameter events follows the round trips; then offline renders
# of N seconds (60 unless told; 0 leaves them out) through the gain test
# plug-in and a reverb of Debian's; another streams 1, 4, 16 and 32
# sessions at real-time pace (--sessions-seconds 0 leaves it out). --repeat N times the round trips N times over (a new client each
# time) and adds a table of each row's median over the runs, with the lowest
# and highest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
do_build=1
smoke=0
instructions=1
plugin=""
sessions_seconds=30
render_seconds=60
repeat=1
client_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --smoke) smoke=1; instructions=0; shift ;;
    --no-instructions) instructions=0; shift ;;
    --plugin) plugin=$2; shift 2 ;;
    --sessions-seconds) sessions_seconds=$2; shift 2 ;;
    --render-seconds) render_seconds=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --sizes|--blocks|--rounds|--warmup) client_args+=("$1" "$2"); shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

if [ $do_build = 1 ]; then
  bash "$root/scripts/install-deps.sh"
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j2 --target bench_programs >&2
fi

expect=(--expect half)
if [ -z "$plugin" ]; then
  plugin="$build/test-plugins/test_gain.so"
else
  expect=(--expect any)  # only the gain test plug-in's output is known
fi

work=$(mktemp -d /tmp/corvel-bench-XXXXXX)
source "$root/bench/servers.sh"
trap 'stop_servers; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT

# Headless: no editor windows, nothing but the audio path on the GUI thread.
# Each host is started with its placement named below.
unset DISPLAY CORVEL_TEST_PLUGIN_LOG CORVEL_BENCH_NO_NODELAY CORVEL_PLUGIN_PLACEMENT

start_server tcp "$build/bench/corvel-bench-tcp-echo" @PORT@
tcp_port=$port
start_server tcphandoff "$build/bench/corvel-bench-tcp-echo" @PORT@ --handoff
tcphandoff_port=$port
start_handoff
CORVEL_BENCH_COUNTERS="$work/echo.counters" \
  start_server echo "$build/bench/corvel-bench-echo" @PORT@
echo_port=$port
CORVEL_BENCH_COUNTERS="$work/host.counters" \
  start_server host "$build/bench/corvel-vst-remote-bench"
host_port=$port
CORVEL_BENCH_COUNTERS="$work/inprocess.counters" CORVEL_PLUGIN_PLACEMENT=in-process \
  start_server inprocess "$build/bench/corvel-vst-remote-bench"
inprocess_port=$port
CORVEL_BENCH_COUNTERS="$work/default.counters" CORVEL_BENCH_NO_NODELAY=1 \
  start_server default "$build/bench/corvel-vst-remote-bench"
default_port=$port

tcp_target="name=tcp floor,kind=tcp,port=$tcp_port"
handoff_target="name=hand-off floor,kind=handoff,file=$work/handoff.area"
tcphandoff_target="name=tcp with hand-off,kind=tcp,port=$tcphandoff_port"
echo_target="name=echo,kind=echo,port=$echo_port,counters=$work/echo.counters"
host_target="name=host,kind=host,port=$host_port,counters=$work/host.counters"
inprocess_target="name=host in process,kind=host,port=$inprocess_port"
inprocess_target+=",counters=$work/inprocess.counters"
# A session of its own on the first host, over protocol 2.
version2_target="name=host protocol 2,kind=host2,port=$host_port,counters=$work/host.counters"
# The parameter test plug-in, output = input x its Gain, in two more sessions
# of the first host: blocks without records, and blocks with 16 (Gain set to
# 0.5 and another parameter moved, so the reply is still known exactly).
params_plugin="$build/test-plugins/test_parameters.so"
params_target="name=parameter plug-in,kind=host2,port=$host_port,counters=$work/host.counters"
params_target+=",plugin=$params_plugin,expect=same"
records_target="name=16 parameter records,kind=host2,port=$host_port,counters=$work/host.counters"
records_target+=",plugin=$params_plugin,expect=half,records=16,base=parameter plug-in"
# The multi-output test plug-in (an instrument of 16 outputs, each a level
# of its own) in two more sessions: replies of its first two channels, and
# of all 16.
multiout_plugin="$build/test-plugins/test_multiout.so"
stereo_target="name=2 outputs,kind=host2,port=$host_port,counters=$work/host.counters"
stereo_target+=",plugin=$multiout_plugin,expect=levels"
outputs_target="name=16 outputs,kind=host2,port=$host_port,counters=$work/host.counters"
outputs_target+=",plugin=$multiout_plugin,expect=levels,outputs=16,base=2 outputs"
# Without tcp_nodelay a round trip takes about 40 ms: a hundred blocks in a
# row (a few seconds) show it.
default_target="name=host without tcp_nodelay,kind=host,port=$default_port"
default_target+=",counters=$work/default.counters,blocks=20,rounds=5"

# pin CORES PID: moves every thread of PID onto CORES. taskset fails when a
# thread ends while it goes through them (the host's come and go with its
# sessions); a second try then finds the list settled.
pin() {
  local attempt
  for attempt in 1 2 3 4 5; do
    taskset -a -p -c "$1" "$2" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  taskset -a -p -c "$1" "$2" >/dev/null
}

# time_pass NAME CLIENT-CORE SERVER-CORE TARGET...: one run of the client,
# its table in $work/NAME.md. Where the scheduler puts the threads moves a
# round trip by up to a quarter, and it may place the echo's and the host's
# differently, so the passes put them in known places; "-" leaves it alone.
time_pass() {
  local name=$1 client_core=$2 server_core=$3
  shift 3
  local targets=() target pid
  for target in "$@"; do targets+=(--target "$target"); done
  local client=("$build/bench/corvel-bench-client")
  if [ "$client_core" != - ]; then
    client=(taskset -c "$client_core" "${client[@]}")
    for pid in "${server_pids[@]}"; do pin "$server_core" "$pid"; done
  fi
  "${client[@]}" "${targets[@]}" --plugin "$plugin" "${expect[@]}" "${client_args[@]}" \
    >"$work/$name.md" || { cat "$work/$name.md"; exit 1; }
}

# events_pass LABEL CLIENT-CORE SERVER-CORE [options]: the parameter events'
# way back, through the first host, placed as time_pass places them; one
# row in $work/events.md.
events_pass() {
  local label=$1 client_core=$2 server_core=$3 pid
  shift 3
  local client=("$build/bench/corvel-bench-events")
  if [ "$client_core" != - ]; then
    client=(taskset -c "$client_core" "${client[@]}")
    for pid in "${server_pids[@]}"; do pin "$server_core" "$pid"; done
  fi
  "${client[@]}" --port "$host_port" --plugin "$params_plugin" --label "$label" "$@" \
    >>"$work/events.md" || { cat "$work/events.md"; exit 1; }
}
# settle: waits (up to 10 s) until the servers have no plug-in processes left
# from the clients before. Their sessions end after the clients do, and
# what that ending allocates would count against the next client's blocks.
settle() {
  local pid
  for _ in $(seq 1 100); do
    for pid in "${server_pids[@]}"; do
      pgrep -P "$pid" >/dev/null && { sleep 0.1; continue 2; }
    done
    return 0
  done
}

# render_pass LABEL CORES CLIENT-CORE SERVER-CORE PORT PLUGIN [options]: an
# offline render through a host, placed as time_pass places them; one row in
# $work/render.md.
render_pass() {
  local label=$1 cores_label=$2 client_core=$3 server_core=$4 render_port=$5 render_plugin=$6 pid
  shift 6
  settle
  local client=("$build/bench/corvel-bench-render")
  if [ "$client_core" != - ]; then
    client=(taskset -c "$client_core" "${client[@]}")
    for pid in "${server_pids[@]}"; do pin "$server_core" "$pid"; done
  fi
  "${client[@]}" --port "$render_port" --plugin "$render_plugin" --label "$label" \
    --cores "$cores_label" "$@" \
    >>"$work/render.md" || { cat "$work/render.md"; exit 1; }
}
render_header() {
  echo "Offline rendering: 48 kHz stereo, blocks as fast as the host takes them; the run's plug-in unless named"
  echo
  echo "| plug-in, placement | cores | frames | in flight | blocks | audio s | wall ms | × real time | new/block | malloc/block |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
}
# A reverb of Debian's, when it is installed.
reverb_plugin=$(dpkg -L dragonfly-reverb-vst 2>/dev/null | grep -m1 '/DragonflyRoomReverb-vst\.so$' || true)

events_header() {
  echo "Parameter events: a note-on in every block makes the plug-in move its Gain from its audio thread; µs"
  echo
  echo "| cores | blocks | round trip p50 / p99 | reply → event p50 / p99 / max | send → event p50 / p99 / max |"
  echo "|---:|---:|---|---|---|"
}

# Timing first, while nothing of ours but the servers and the client runs.
echo "Timing round trips..." >&2
if [ $smoke = 1 ]; then
  client_args=(--sizes 128,4096,16384 --blocks 100 --rounds 2 --warmup 10 --require-no-new)
  time_pass smoke - - "$tcp_target" "$handoff_target" "$tcphandoff_target" "$echo_target" "$host_target" \
    "$version2_target" "$params_target" "$records_target" "$stereo_target" "$outputs_target" \
    "$inprocess_target" "${default_target/blocks=20,rounds=5/blocks=5,rounds=2}"
  events_pass - - - --blocks 50 --warmup 5
  render_pass "plug-in process" - - - "$host_port" "$plugin" --seconds 2 \
    --counters "$work/host.counters" --require-no-new
  stop_servers
  cat "$work/smoke.md"
  echo
  events_header
  cat "$work/events.md"
  echo
  render_header
  cat "$work/render.md"
  exit 0
fi
# The first two cores this shell may use.
cores=()
for range in $(sed -n 's/^Cpus_allowed_list:[[:space:]]*//p' /proc/self/status | tr , ' '); do
  for core in $(seq "${range%-*}" "${range#*-}"); do cores+=("$core"); done
done
labels=1
[ ${#cores[@]} -ge 2 ] && labels=1,2
for run in $(seq 1 "$repeat"); do
  [ "$repeat" -gt 1 ] && echo "Run $run of $repeat..." >&2
  # One core: client and servers take turns on it.
  time_pass "one-$run" "${cores[0]}" "${cores[0]}" "$tcp_target" "$handoff_target" \
    "$tcphandoff_target" "$echo_target" "$host_target" "$version2_target" "$params_target" \
    "$records_target" "$stereo_target" "$outputs_target" "$inprocess_target" "$default_target"
  passes=("one-$run.md")
  if [ ${#cores[@]} -ge 2 ]; then
    # Two cores: the client on one, the servers on the other, as a browser and
    # this program on a desktop with several. Each host's plug-in process, and
    # the hand-off floor's second process, share the servers' core.
    time_pass "two-$run" "${cores[0]}" "${cores[1]}" "$tcp_target" "$handoff_target" \
      "$tcphandoff_target" "$echo_target" "$host_target" "$version2_target" "$params_target" \
      "$records_target" "$stereo_target" "$outputs_target" "$inprocess_target"
    passes+=("two-$run.md")
  fi
  (cd "$work" && awk -v labels="$labels" -f "$root/bench/merge-table.awk" "${passes[@]}") \
    >"$work/run-$run.md"
done
echo "Timing parameter events..." >&2
events_pass 1 "${cores[0]}" "${cores[0]}"
[ ${#cores[@]} -ge 2 ] && events_pass 2 "${cores[0]}" "${cores[1]}"
if [ "$render_seconds" != 0 ]; then
  echo "Rendering offline..." >&2
  render_places=("1 ${cores[0]} ${cores[0]}")
  [ ${#cores[@]} -ge 2 ] && render_places+=("2 ${cores[0]} ${cores[1]}")
  for place in "${render_places[@]}"; do
    read -r count client_core server_core <<<"$place"
    render_pass "plug-in process" "$count" "$client_core" "$server_core" "$host_port" \
      "$plugin" "${expect[@]}" --seconds "$render_seconds" --counters "$work/host.counters"
    render_pass "plug-in process" "$count" "$client_core" "$server_core" "$host_port" \
      "$plugin" "${expect[@]}" --seconds "$render_seconds" --in-flight 1
    render_pass "in process" "$count" "$client_core" "$server_core" "$inprocess_port" \
      "$plugin" "${expect[@]}" --seconds "$render_seconds" --counters "$work/inprocess.counters"
    if [ -n "$reverb_plugin" ]; then
      render_pass "Dragonfly Room Reverb, plug-in process" "$count" "$client_core" \
        "$server_core" "$host_port" "$reverb_plugin" --expect any --seconds "$render_seconds"
    fi
  done
fi
sessions_table=""
if [ "$sessions_seconds" -gt 0 ]; then
  echo "Streaming sessions side by side (about $((4 * sessions_seconds + 10)) s)..." >&2
  for pid in "${server_pids[@]}"; do pin "$(IFS=,; echo "${cores[*]}")" "$pid"; done
  sessions_table="$work/sessions.md"
  "$build/bench/corvel-bench-sessions" --port "$host_port" --plugin "$plugin" \
    --seconds "$sessions_seconds" >"$sessions_table"
fi
stop_servers

counts=""
if [ $instructions = 1 ]; then
  echo "Counting instructions under callgrind (a minute or two)..." >&2
  counts="$work/instructions.tsv"
  # A failure here leaves the timing tables without the counts, not lost.
  bash "$root/bench/instructions.sh" --build-dir "$build" --plugin "$plugin" "${expect[@]}" \
    --rows "$counts" >/dev/null || { echo "instruction counts failed" >&2; counts=""; }
fi
(cd "$work" && awk -v labels="$labels" -v counts="$counts" -f "$root/bench/merge-table.awk" "${passes[@]}")
if [ "$repeat" -gt 1 ]; then
  echo
  (cd "$work" && awk -f "$root/bench/repeat-summary.awk" $(seq -f 'run-%g.md' 1 "$repeat"))
fi
echo
events_header
cat "$work/events.md"
if [ -s "$work/render.md" ]; then
  echo
  render_header
  cat "$work/render.md"
fi
if [ -n "$sessions_table" ]; then
  echo
  cat "$sessions_table"
fi
