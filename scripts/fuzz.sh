#!/usr/bin/env bash
# Builds the libFuzzer target over the frame joiner, the command parsers,
# the session's dispatcher, the origin gate and the allow-list parser with
# Debian's clang, and runs it for a bounded time (FUZZ_SECONDS, 30).
# A crash or a broken invariant fails the script and leaves its input in
# build-fuzz/ to replay: build-fuzz/channel-input-fuzz <file>.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-30}
out=build-fuzz
mkdir -p "$out/corpus" "$out/generated"
# The version header CMake would write, from project().
version=$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
IFS=. read -r major minor patch <<<"$version"
sed -e "s/@PROJECT_VERSION@/$version/" -e "s/@PROJECT_VERSION_MAJOR@/$major/" \
  -e "s/@PROJECT_VERSION_MINOR@/$minor/" -e "s/@PROJECT_VERSION_PATCH@/$patch/" \
  src/Version.h.in > "$out/generated/Version.h"
# The session's plug-in, GUI thread and folder walk are the stand-ins of
# fuzz/SessionDoubles.cpp; everything else is the program's own code.
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I. -Isrc -I"$out/generated" \
  fuzz/ChannelInputFuzz.cpp fuzz/DispatchCheck.cpp fuzz/SessionDoubles.cpp \
  src/websocket/FrameJoiner.cpp src/host/CommandParsing.cpp src/host/Session.cpp src/host/SessionVersion2.cpp \
  src/host/ReplyOrder.cpp src/host/ScanService.cpp src/shell/GuiThread.cpp \
  src/text/Utf8.cpp src/trust/OriginText.cpp src/trust/LoopbackHost.cpp src/trust/AllowList.cpp \
  src/trust/posix/AllowListFilePosix.cpp src/trust/OriginGate.cpp \
  -o "$out/channel-input-fuzz"
# The corpus grows in the build folder; the seeds in the repository stay as they are.
CORVEL_FUZZ_ALLOW_LIST="$out/allow-list" "$out/channel-input-fuzz" -max_total_time="$seconds" \
  -print_final_stats=1 -artifact_prefix="$out/" "$out/corpus" fuzz/seeds
