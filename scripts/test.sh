#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the Linux build, the
# same tests under AddressSanitizer and ThreadSanitizer, and the Windows
# build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
status=0

# Real plug-ins take minutes; they run once, in the Linux build. A plug-in
# that does not do what is expected gets a second try of its own, and a
# shard whose runner fails gets one more run, since editors' timing on a
# loaded machine varies.
ctest_filter=(-LE compat)

run_suite() {  # name, build folder, extra cmake arguments...
  local name=$1 folder=$2
  shift 2
  echo "=== $name"
  cmake -S . -B "$folder" -G Ninja "$@" >/dev/null
  cmake --build "$folder" -j"$jobs"
  # Editor tests need an X server; everything else runs headless.
  if ! xvfb-run -a -s "-screen 0 1280x1024x24" \
      ctest --test-dir "$folder" --output-on-failure -j"$jobs" "${ctest_filter[@]}"; then
    status=1
  fi
}

run_suite "Linux build" build
echo "=== Real plug-ins"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir build -L compat --output-on-failure -j"$jobs" --repeat until-pass:2 || status=1
# Once, against the Linux build: the client module and the test page in
# Chromium, with an X server so that the page's editor button opens one.
echo "=== JavaScript client and browser test"
xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/test-js.sh build || status=1
echo "=== Fuzzing the channel's input" && bash scripts/fuzz.sh || status=1
run_suite "AddressSanitizer" build-asan -DCORVEL_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  run_suite "ThreadSanitizer" build-tsan -DCORVEL_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug

# The Windows program, cross-compiled: its own checks, then the shared
# integration suite of the Linux build against it, under Wine.
echo "=== Windows build under Wine"
CORVEL_LINUX_BUILD="$PWD/build" bash scripts/windows-ci.sh || status=1
CORVEL_LINUX_BUILD="$PWD/build" CORVEL_WINDOWS_BUILD="$PWD/build-win" bash tests/package/run.sh || status=1

exit $status
