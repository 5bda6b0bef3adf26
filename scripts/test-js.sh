#!/usr/bin/env bash
# Runs the JavaScript client's tests and the browser test of the built-in
# test page against a built tree (default: build). Needs node, npm and
# Debian's chromium (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
CORVEL_BUILD_DIR="$(realpath "${1:-build}")"
export CORVEL_BUILD_DIR
status=0

echo "--- clients/js"
(cd clients/js && npm ci --no-audit --no-fund --loglevel=error && node --test test/*.test.js) || status=1
echo "--- tests/browser"
(cd tests/browser && npm ci --no-audit --no-fund --loglevel=error && node --test page.test.js) || status=1

exit $status
