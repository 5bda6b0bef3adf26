# Shared by run.sh and instructions.sh: starting servers on free loopback
# ports and stopping them again. Expects $work (a scratch folder).

server_pids=()

stop_servers() {
  for pid in "${server_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${server_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  server_pids=()
}

# start_server NAME COMMAND...: starts COMMAND on a free port (another one
# when the port turns out to be taken) and sets $port. "@PORT@" in the
# command becomes the port; the host reads it from CORVEL_TEST_PORT.
start_server() {
  local name=$1
  shift
  local attempt pid word
  for attempt in $(seq 1 20); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    local command=()
    for word in "$@"; do command+=("${word//@PORT@/$port}"); done
    CORVEL_TEST_PORT=$port "${command[@]}" >"$work/$name.out" 2>&1 &
    pid=$!
    # Up to a minute: under callgrind the program starts slowly.
    for _ in $(seq 1 1200); do
      kill -0 "$pid" 2>/dev/null || break
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        # A server of someone else's on that port would answer while ours
        # fails to bind and ends: make sure ours is still there.
        sleep 0.2
        if kill -0 "$pid" 2>/dev/null; then
          server_pids+=("$pid")
          return 0
        fi
        break
      fi
      sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "$name: could not start; its output:" >&2
  cat "$work/$name.out" >&2
  exit 1
}

# start_handoff: starts the hand-off floor, which names its memory file
# $work/handoff.area once it is ready.
start_handoff() {
  local pid
  "$build/bench/corvel-bench-handoff" "$work/handoff.area" >"$work/handoff.out" 2>&1 &
  pid=$!
  for _ in $(seq 1 200); do
    if [ -e "$work/handoff.area" ]; then
      server_pids+=("$pid")
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill "$pid" 2>/dev/null || true
  echo "handoff: could not start; its output:" >&2
  cat "$work/handoff.out" >&2
  exit 1
}
