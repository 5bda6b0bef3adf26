#!/usr/bin/env bash
# Runs the tests that start Wine programs, and outlives a Wine server
# that aborts under them (Wine 8's server can fail an assertion in
# complete_async_poll, after which every process of the prefix hangs):
#
#   scripts/wine-rounds.sh PREFIX BUILD_DIR [CTEST ARGUMENTS...]
#
# Each round runs on a fresh copy of the prepared prefix PREFIX with a
# server of its own. When that server aborts, the round stops at once and
# the tests it took down (every one not yet passed, except those that had
# failed before the abort) run again on a fresh server. A test that fails
# for its own reason gets one more try; failing twice fails the run.
# Expects $DISPLAY; fails when no test ran.
set -uo pipefail
pristine=$1
build=$2
shift 2
work=$(mktemp -d)
declare -A ownFailures=()
server_pid=""
prefix=""

end_prefix() {
    [ -n "$server_pid" ] && kill -9 "$server_pid" 2>/dev/null
    # Wine processes of a dead server's prefix hang: end them too.
    [ -n "$prefix" ] && for environ in /proc/[0-9]*/environ; do
        if tr '\0' '\n' 2>/dev/null <"$environ" | grep -qxF "WINEPREFIX=$prefix"; then
            pid=${environ#/proc/}
            kill -9 "${pid%/environ}" 2>/dev/null
        fi
    done
    [ -n "$prefix" ] && rm -rf "$prefix"
    server_pid=""
    prefix=""
}
trap 'end_prefix; rm -rf "$work"' EXIT

fresh_prefix() {  # round number
    end_prefix
    prefix="$pristine-round$1"
    rm -rf "$prefix"
    cp -a "$pristine" "$prefix"
    export WINEPREFIX=$prefix
    # In the foreground of its own process, so its end and its last words
    # can be seen; persistent, so the programs' start-up does not pay for it.
    wineserver -f -p </dev/null >/dev/null 2>"$work/server.log" &
    server_pid=$!
    # Wine's own services start with the prefix's first program and keep
    # its output open: start them here, so that no test's output stays open
    # after the test has ended.
    wine wineboot </dev/null >/dev/null 2>&1
}

server_aborted() {
    ! kill -0 "$server_pid" 2>/dev/null || grep -q 'Assertion' "$work/server.log"
}

# Each output line of ctest, prefixed with the second it came.
stamped() {
    while IFS= read -r line; do
        printf '%s %s\n' "$(date +%s)" "$line"
        printf '%s\n' "$line" >&2
    done
}

names_matching() {  # state pattern, in the stamped output
    sed -n "s/^[0-9]* *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*\($1\).*/\1/p" "$work/out"
}

regex_of() {  # test names, as one anchored -R expression
    printf '%s\n' "$@" | sed 's/[].[\\*^$()+?{|]/\\&/g' | paste -sd'|' | sed 's/.*/^(&)$/'
}

everything=$(ctest --test-dir "$build" --no-tests=error -N "$@" | sed -n 's/^ *Test *#[0-9]*: //p')
if [ -z "$everything" ]; then
    echo "wine-rounds: no tests in $build for: $*" >&2
    exit 1
fi
mapfile -t remaining <<<"$everything"
passedAny=0

for round in 1 2 3 4; do
    fresh_prefix "$round"
    echo "--- Wine round $round: ${#remaining[@]} tests"
    # A session of its own, so that an abort can end ctest and its tests.
    setsid sh -c 'echo $$ >"$0"; exec "$@"' "$work/runner.pid" \
        ctest --test-dir "$build" --no-tests=error --output-on-failure "$@" \
        -R "$(regex_of "${remaining[@]}")" 2>&1 | stamped >"$work/out" &
    runner=$!
    abortedAt=""
    while kill -0 "$runner" 2>/dev/null; do
        if server_aborted; then
            abortedAt=$(date +%s)
            echo "--- the Wine server aborted:" >&2
            tail -n 3 "$work/server.log" >&2
            kill -9 -- "-$(cat "$work/runner.pid")" 2>/dev/null
            break
        fi
        sleep 0.5
    done
    wait "$runner"

    passed=$(names_matching 'Passed\|Skipped')
    [ -n "$(names_matching ' Passed')" ] && passedAny=1
    # Failures seen before the abort (with a second's grace) are the tests'
    # own; the rest were taken down with the server.
    while read -r stamp name; do
        [ -z "$name" ] && continue
        if [ -z "$abortedAt" ] || [ "$stamp" -lt $((abortedAt - 1)) ]; then
            ownFailures[$name]=$((${ownFailures[$name]:-0} + 1))
        fi
    done < <(sed -n 's/^\([0-9]*\) *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*\(\*\*\*Failed\|\*\*\*Timeout\|\*\*\*Exception\|Not Run\).*/\1 \2/p' "$work/out")

    next=()
    for name in "${remaining[@]}"; do
        grep -qxF "$name" <<<"$passed" && continue
        [ "${ownFailures[$name]:-0}" -ge 2 ] && continue
        next+=("$name")
    done
    remaining=("${next[@]}")
    [ ${#remaining[@]} -eq 0 ] && break
done

failed=()
while IFS= read -r name; do
    [ "${ownFailures[$name]:-0}" -ge 2 ] && failed+=("$name")
done <<<"$everything"
failed+=("${remaining[@]}")
if [ ${#failed[@]} -gt 0 ]; then
    echo "wine-rounds: failed:" >&2
    printf '    %s\n' "${failed[@]}" >&2
    exit 1
fi
if [ "$passedAny" -eq 0 ]; then
    echo "wine-rounds: no test passed" >&2
    exit 1
fi
exit 0
