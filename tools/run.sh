#!/usr/bin/env bash
# Installs what is needed, builds, publishes the bundled content/ as a new version on the local asset
# server (127.0.0.1:8090) and runs the client against it in build/run/, where it keeps cvar.db, client.log
# and the content it downloads. With a display the client runs until its window is closed (or Ctrl-C,
# which closes it the same way). Without one it runs on a virtual display: once the menu is reached a
# screenshot is taken and the window is closed as a user closes it. The asset server is stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash tools/install.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

python3 tools/assetserver.py stop --pid-file build/assetserver.pid 2>/dev/null || true
rm -rf build/assets
python3 tools/publish.py content build/assets "$(date +%s)"
python3 tools/assetserver.py start build/assets --pid-file build/assetserver.pid --log build/assetserver.log >/dev/null
trap 'python3 tools/assetserver.py stop --pid-file build/assetserver.pid' EXIT

run_dir="$root/build/run"
mkdir -p "$run_dir"
rm -f "$run_dir/client.log"
report() {
  echo "client.log: $run_dir/client.log"
  echo "asset server log: $root/build/assetserver.log"
}

if [ -n "${DISPLAY:-}" ]; then
  echo "Running the client: close its window (or press Ctrl-C) to end it."
  status=0
  (cd "$run_dir" && exec ../client/tavrix) || status=$?
  report
  exit "$status"
fi

# On the virtual display: the client in the background until its log shows the menu (at most two minutes),
# a few frames later the screenshot, then the close request.
on_virtual_display() {
  cd "$RUN_DIR"
  ../client/tavrix &
  local client=$!
  echo "$client" >tavrix.pid
  local menu="renderMode::switchMode() Switching to: Menu"
  for _ in $(seq 1200); do
    grep -qaF "$menu" client.log 2>/dev/null && break
    kill -0 "$client" 2>/dev/null || break
    sleep 0.1
  done
  if grep -qaF "$menu" client.log 2>/dev/null; then
    sleep 1
    import -window root screenshot.png && echo "screenshot: $RUN_DIR/screenshot.png"
    ../tools/closewindow
  else
    echo "The client did not reach the menu; see its log." >&2
    kill -TERM "$client" 2>/dev/null || true
  fi
  wait "$client"
}

echo "No display: running on a virtual one (xvfb-run); the window is closed once the menu is shown."
# The virtual display runs in a session of its own, so Ctrl-C reaches only the client (as SIGTERM, which
# closes its window) and the display stays up for its shutdown.
rm -f "$run_dir/tavrix.pid" "$run_dir/screenshot.png"
RUN_DIR="$run_dir" setsid -w xvfb-run -a -s "-screen 0 1280x1024x24" \
  bash -c "$(declare -f on_virtual_display); on_virtual_display" &
runner=$!
trap '[ -s "$run_dir/tavrix.pid" ] && kill -TERM "$(cat "$run_dir/tavrix.pid")"' INT TERM
status=0
while kill -0 "$runner" 2>/dev/null; do
  wait "$runner" && status=0 || status=$?
done
rm -f "$run_dir/tavrix.pid"
report
exit "$status"
