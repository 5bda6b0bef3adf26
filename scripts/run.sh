#!/usr/bin/env bash
# Installs what is needed, builds, and starts Corvel VST/Remote on 127.0.0.1:9001.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --runtime-only
cmake -S . -B build -G Ninja -DCORVEL_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
exec ./build/corvel-vst-remote
