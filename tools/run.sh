#!/usr/bin/env bash
# Installs what is needed, builds, and runs the client.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
if [ ! -x build/client/tavrix ]; then
  echo "This tree builds the platform library only: there is no client program to run yet (see README.md)."
  exit 0
fi
