#!/usr/bin/env bash
# Runs the JavaScript client's tests and the browser test of the built-in
# test page against a built tree (default: build). Needs node, npm and
# Debian's chromium (scripts/install-deps.sh installs them). Each part fails
# when none of its tests passed.
set -euo pipefail
cd "$(dirname "$0")/.."
CORVEL_BUILD_DIR="$(realpath "${1:-build}")"
export CORVEL_BUILD_DIR
status=0

node_tests() {  # folder, pattern of its test files
  local folder=$1 pattern=$2 log
  log=$(mktemp)
  # The pattern is expanded inside the folder.
  # shellcheck disable=SC2086
  (cd "$folder" && npm ci --no-audit --no-fund --loglevel=error && node --test $pattern) 2>&1 | tee "$log"
  local result=${PIPESTATUS[0]}
  if [ "$result" -eq 0 ] && ! grep -q '^# pass [1-9]' "$log"; then
    echo "$folder: no test passed" >&2
    result=1
  fi
  rm -f "$log"
  return "$result"
}

echo "--- clients/js"
node_tests clients/js 'test/*.test.js' || status=1
echo "--- tests/browser"
node_tests tests/browser '*.test.js' || status=1

exit $status
