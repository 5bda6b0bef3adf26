#!/usr/bin/env bash
# Instructions per audio block, counted by callgrind in the echo server and
# in the host, with its plug-in in a plug-in process (which callgrind does
# not follow) and in process: the whole process, the handler of whole
# messages, and within it the library's send and the plug-in, leaving the
# host's own work. Each server runs twice, with N and 2N blocks; the
# difference divided by N is one block's cost, free of start-up, loading
# and shutdown. Only user-space instructions count: the kernel's share of
# a round trip is not in here.
#
#   bash bench/instructions.sh --build-dir DIR [--plugin PATH] [--expect half|any]
#                              [--sizes 128,1024,4096] [--blocks N] [--rows FILE]
# --rows also writes the rows, tab-separated, for the client's table.
# KEEP_WORK=1 keeps the profiles (the folder is /tmp/corvel-instructions-*).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
plugin=""
expect=(--expect half)
sizes=128,1024,4096
blocks=500
rows=/dev/null
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --plugin) plugin=$2; shift 2 ;;
    --expect) expect=(--expect "$2"); shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --blocks) blocks=$2; shift 2 ;;
    --rows) rows=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
[ -n "$plugin" ] || plugin="$build/test-plugins/test_gain.so"

if ! command -v valgrind >/dev/null; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends valgrind
fi

work=$(mktemp -d /tmp/corvel-instructions-XXXXXX)
source "$root/bench/servers.sh"
trap 'stop_servers; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
unset DISPLAY CORVEL_TEST_PLUGIN_LOG CORVEL_BENCH_NO_NODELAY CORVEL_BENCH_COUNTERS
# Callgrind counts every byte that a string instruction (rep movsb) moves as
# one instruction, which the C library's copy uses from about 2 KB on; copies
# then outweigh everything else though the processor does them in a few
# hundred cycles. Keep the library's copies on its vector loops instead.
export GLIBC_TUNABLES=glibc.cpu.x86_rep_movsb_threshold=0x7fffffff

# profile KIND FRAMES COUNT: one server under callgrind for COUNT blocks;
# sets $profile_out to its profile. KIND is echo, host (its plug-in in a
# plug-in process, which callgrind does not follow) or inprocess.
profile() {
  local kind=$1 frames=$2 count=$3
  local out="$work/$kind-$frames-$count.callgrind"
  local program=("$build/bench/corvel-bench-echo" @PORT@) placement="" client_kind=host
  [ "$kind" != echo ] && program=("$build/bench/corvel-vst-remote-bench")
  [ "$kind" = inprocess ] && placement=in-process
  [ "$kind" = echo ] && client_kind=echo
  # On a busy machine a server under callgrind now and then refuses or
  # drops its first connection: the run is tried again.
  local attempt
  for attempt in 1 2 3; do
    CORVEL_PLUGIN_PLACEMENT=$placement \
      start_server "$kind" valgrind --tool=callgrind --callgrind-out-file="$out" "${program[@]}"
    if "$build/bench/corvel-bench-client" --target "name=$kind,kind=$client_kind,port=$port" \
      --plugin "$plugin" "${expect[@]}" --sizes "$frames" --blocks "$count" --rounds 1 \
      --warmup 0 --connect-ms 180000 >/dev/null; then
      stop_servers
      profile_out=$out
      return 0
    fi
    stop_servers
  done
  echo "$kind: no profile after three tries" >&2
  exit 1
}

# costs PROFILE: "<inclusive instructions>\t<function>\t<object>" per line,
# with "PROGRAM TOTALS" for the whole process. A function can be listed more
# than once (under the names of several source files): keep its largest.
costs() {
  callgrind_annotate --inclusive=yes --threshold=100 --auto=no "$1" 2>/dev/null |
    awk '$1 ~ /^[0-9,]+$/ && $2 ~ /^\(/ {
           count = $1; gsub(",", "", count)
           line = $0; sub(/^ *[0-9,]+ *\([ 0-9.]+%\) */, "", line)
           object = ""
           if (match(line, / \[[^]]*\]$/)) {
             object = substr(line, RSTART + 2, RLENGTH - 3)
             line = substr(line, 1, RSTART - 1)
           }
           if (line != "PROGRAM TOTALS") sub(/^[^:]*:/, "", line)
           if (count + 0 > best[line] + 0) best[line] = count
           if (object != "") where[line] = object
         }
         END { for (line in best) printf "%s\t%s\t%s\n", best[line], line, where[line] }'
}

# per_block SMALL LARGE PATTERN [OBJECT]: the largest per-block difference in
# inclusive cost among functions matching PATTERN (and, if given, lying in
# OBJECT); 0 when none matches.
per_block() {
  awk -F '\t' -v pattern="$3" -v object="${4:-}" -v blocks="$blocks" '
    FNR == NR { small[$2] = $1; next }
    $2 ~ pattern && (object == "" || $3 == object) {
      difference = ($1 - small[$2]) / blocks
      if (!found || difference > best) best = difference
      found = 1
    }
    END { printf "%d\n", found ? best : 0 }' "$1" "$2"
}

echo "## Instructions per block (callgrind, user space)"
echo
echo "| frames | server | whole process | receive | message handler | library send | plug-in | own work |"
echo "|---:|---|---:|---:|---:|---:|---:|---:|"
for frames in ${sizes//,/ }; do
  for kind in echo host inprocess; do
    name=$kind
    [ "$kind" = inprocess ] && name="host in process"
    profile "$kind" "$frames" "$blocks"
    costs "$profile_out" >"$work/small.txt"
    profile "$kind" "$frames" $((2 * blocks))
    costs "$profile_out" >"$work/large.txt"
    handler='EchoChannel::handleData'
    # The host reads its connections' frames itself and hands each whole
    # message on from Connection::deliver.
    [ "$kind" != echo ] && handler='Connection::deliver'
    whole=$(per_block "$work/small.txt" "$work/large.txt" '^PROGRAM TOTALS$')
    inside=$(per_block "$work/small.txt" "$work/large.txt" "$handler")
    send=$(per_block "$work/small.txt" "$work/large.txt" '^(mg_websocket_write|mg_write)$')
    plug=0
    # The plug-in's busiest entry: its process call.
    [ "$kind" = inprocess ] && plug=$(per_block "$work/small.txt" "$work/large.txt" . "$(realpath "$plugin")")
    own=$((inside - send - plug))
    # What the connection's thread does around the handler: reading,
    # unmasking and joining frames (the library's code in the echo, which
    # also allocates a buffer per frame above 4096 bytes; the program's own
    # in the host).
    receive=$((whole - inside))
    echo "| $frames | $name | $whole | $receive | $inside | $send | $plug | $own |"
    printf '%s\t%s\t%s\t%s\n' "$frames" "$name" "$whole" "$own" >>"$rows"
  done
done
