#!/usr/bin/env bash
# Runs the compatibility suite (the CTest label "compat") in a build folder
# and writes docs/compatibility.md from its results.
#
#   tests/compat/make-table.sh [build folder]     (default: build)
set -uo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}

cmake --build "$build" -j2 --target compat_runner || exit 1
rm -f "$build"/compat/*.tsv
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --no-tests=error --test-dir "$build" -L compat --output-on-failure -j2
status=$?
mkdir -p docs
"$build"/tests/compat/compat_runner --table docs/compatibility.md "$build"/compat/*.tsv || status=1
exit $status
