#!/usr/bin/env bash
# Builds the libFuzzer target over the frame joiner and the command parser
# with Debian's clang, and runs it for a bounded time (FUZZ_SECONDS, 30).
# A crash or a broken invariant fails the script and leaves its input in
# build-fuzz/ to replay: build-fuzz/channel-input-fuzz <file>.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-30}
out=build-fuzz
mkdir -p "$out/corpus"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Isrc fuzz/ChannelInputFuzz.cpp src/websocket/FrameJoiner.cpp src/host/CommandParsing.cpp \
  src/scan/ScanReply.cpp src/text/Utf8.cpp src/trust/OriginText.cpp src/trust/LoopbackHost.cpp \
  -o "$out/channel-input-fuzz"
# The corpus grows in the build folder; the seeds in the repository stay as they are.
"$out/channel-input-fuzz" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$out/" "$out/corpus" fuzz/seeds
