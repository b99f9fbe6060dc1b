#!/usr/bin/env bash
# Installs what is needed, builds, and runs the client until its window is closed (or Ctrl-C, which
# closes it the same way). Without a display it runs on a virtual one. It works in build/run/, where it
# keeps cvar.db, client.log and its content.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
mkdir -p build/run
cd build/run
if [ -n "${DISPLAY:-}" ]; then
  exec ../client/tavrix
fi
echo "No display: running on a virtual one (xvfb-run); Ctrl-C closes the client."
# The virtual display runs in a session of its own, so Ctrl-C reaches only the client (as SIGTERM, which
# closes its window) and the display stays up for its shutdown.
rm -f tavrix.pid
setsid -w xvfb-run -a -s "-screen 0 1280x1024x24" sh -c 'echo $$ > tavrix.pid; exec ../client/tavrix' &
runner=$!
trap '[ -s tavrix.pid ] && kill -TERM "$(cat tavrix.pid)"' INT TERM
status=0
while kill -0 "$runner" 2>/dev/null; do
  wait "$runner" && status=0 || status=$?
done
rm -f tavrix.pid
exit "$status"
