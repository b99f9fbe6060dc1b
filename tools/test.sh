#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: in the normal build, under the address and
# undefined-behaviour sanitizers, and under the thread sanitizer, each with warnings as errors. Windowed tests
# run under a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install.sh

jobs=$(nproc)
suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DTAVRIX_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j "$jobs")
}

suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTAVRIX_SANITIZE=address,undefined -DTAVRIX_BENCH=OFF
suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DTAVRIX_SANITIZE=thread -DTAVRIX_BENCH=OFF
