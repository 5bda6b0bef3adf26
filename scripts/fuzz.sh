#!/usr/bin/env bash
# Builds two libFuzzer targets with Debian's clang and runs each for a
# bounded time (FUZZ_SECONDS, 15; side by side on two cores): one over the
# frame joiner, the command parsers, the session's dispatcher, the origin
# gate and the allow-list parser (channel-input-fuzz), one over the module
# judge (module-judgement-fuzz). A crash or a broken invariant fails the script
# and leaves its input in build-fuzz/ to replay: build-fuzz/<target> <file>.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-15}
out=build-fuzz
mkdir -p "$out/corpus" "$out/generated" "$out/module-corpus" "$out/module-seeds"
# The version header CMake would write, from project().
version=$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
IFS=. read -r major minor patch <<<"$version"
sed -e "s/@PROJECT_VERSION@/$version/" -e "s/@PROJECT_VERSION_MAJOR@/$major/" \
  -e "s/@PROJECT_VERSION_MINOR@/$minor/" -e "s/@PROJECT_VERSION_PATCH@/$patch/" \
  src/Version.h.in > "$out/generated/Version.h"
# The session's plug-in, GUI thread and folder walk are the stand-ins of
# fuzz/SessionDoubles.cpp; everything else is the program's own code.
channel=(fuzz/ChannelInputFuzz.cpp fuzz/DispatchCheck.cpp fuzz/SessionDoubles.cpp
  src/websocket/FrameJoiner.cpp src/host/CommandParsing.cpp src/host/Session.cpp src/host/SessionVersion2.cpp
  src/host/SessionParameters.cpp src/host/SessionBlocks.cpp
  src/host/ReplyOrder.cpp src/host/ScanService.cpp src/shell/GuiThread.cpp
  src/host/SessionCatalogue.cpp src/host/Catalogue.cpp src/host/CatalogueCache.cpp src/host/CatalogueEntry.cpp
  src/host/posix/CatalogueFilesPosix.cpp src/host/posix/ChildProcessPosix.cpp src/host/posix/PluginHostChoicePosix.cpp
  src/bridge/LaunchContract.cpp src/dsp/ModuleJudgement.cpp src/dsp/ModuleFile.cpp src/dsp/posix/ModuleFilePosix.cpp
  src/text/Utf8.cpp src/trust/OriginText.cpp src/trust/LoopbackHost.cpp src/trust/AllowList.cpp
  src/trust/posix/AllowListFilePosix.cpp src/trust/OriginGate.cpp)
module=(fuzz/ModuleJudgementFuzz.cpp src/dsp/ModuleJudgement.cpp src/dsp/ModuleFile.cpp
  src/dsp/posix/ModuleFilePosix.cpp)
# Line tables only: a crash's report needs no more, and they compile faster.
flags=(-std=c++17 -gline-tables-only -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
  -I. -Isrc -I"$out/generated")
# One compiler per core: the JSON-heavy session units take most of a
# minute each, and one clang++ for all of them would use a single core.
objects="$out/objects"
mkdir -p "$objects"
objectOf() { echo "$objects/$(echo "$1" | tr / _).o"; }
export -f objectOf
export objects
printf '%s\n' "${channel[@]}" "${module[@]}" | sort -u |
  xargs -P"$(nproc)" -I{} bash -c 'clang++ "$@" -c {} -o "$(objectOf {})"' _ "${flags[@]}"
link() {  # output, sources...
  local output=$1 objectFiles=()
  shift
  for source in "$@"; do objectFiles+=("$(objectOf "$source")"); done
  clang++ "${flags[@]}" "${objectFiles[@]}" -o "$output"
}
link "$out/channel-input-fuzz" "${channel[@]}"
link "$out/module-judgement-fuzz" "${module[@]}"

# Real modules to start from, one for each way to the symbols: with section
# headers, and through the dynamic segment of a GNU or a SysV hash table.
entry='extern "C" __attribute__((visibility("default"))) void* VSTPluginMain(void*) { return 0; }'
for hash in gnu sysv; do
    echo "$entry" | clang++ -x c++ -shared -fPIC -nostdlib -Wl,--hash-style=$hash -o "$out/module-seeds/$hash.so" -
done
python3 - "$out/module-seeds" <<'PY'
import sys
folder = sys.argv[1]
for hash in ("gnu", "sysv"):
    data = bytearray(open(f"{folder}/{hash}.so", "rb").read())
    data[40:48] = bytes(8)  # e_shoff
    data[60:64] = bytes(4)  # e_shnum, e_shstrndx
    open(f"{folder}/{hash}-no-sections.so", "wb").write(data)
PY
if command -v x86_64-w64-mingw32-g++ >/dev/null; then
    echo 'extern "C" __declspec(dllexport) void* VSTPluginMain(void*) { return 0; }' |
        x86_64-w64-mingw32-g++ -x c++ -shared -nostdlib -o "$out/module-seeds/plugin.dll" -
fi

# The corpora grow in the build folder; the seeds in the repository stay as they are.
channelFuzz=(env CORVEL_FUZZ_ALLOW_LIST="$out/allow-list" "$out/channel-input-fuzz" -max_total_time="$seconds"
  -print_final_stats=1 -artifact_prefix="$out/" "$out/corpus" fuzz/seeds)
moduleFuzz=("$out/module-judgement-fuzz" -max_total_time="$seconds" -print_final_stats=1 -max_len=65536
  -artifact_prefix="$out/" "$out/module-corpus" "$out/module-seeds")
if [ "$(nproc)" -lt 2 ]; then
  "${channelFuzz[@]}"
  "${moduleFuzz[@]}"
  exit 0
fi
# A fuzzer uses one core: with two, the targets run side by side, each for
# its full time, so the stage waits FUZZ_SECONDS once instead of twice; their
# logs follow one another.
"${channelFuzz[@]}" >"$out/channel-input-fuzz.log" 2>&1 &
channelRun=$!
"${moduleFuzz[@]}" >"$out/module-judgement-fuzz.log" 2>&1 &
moduleRun=$!
status=0
wait "$channelRun" || status=1
wait "$moduleRun" || status=1
cat "$out/channel-input-fuzz.log" "$out/module-judgement-fuzz.log"
exit $status
