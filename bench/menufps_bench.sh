#!/usr/bin/env bash
# Frames per second of the menu screen at 1280x1024: the real client against the bundled content, its
# render thread and UI Worker together, read from the performance datagrams it sends to the UDP console
# (frame time, frames per second, UI Worker cycles per second) three times a second, against the 60 Hz
# budget of a display. Two runs: as a player has it (vsync on, so the frame loop keeps to the display and
# the UI Worker to its 60 cycles a second), which shows whether the budget is held; and with vsync off
# (video.vsync 0) and the UI Worker at its highest rate (ui.updateFPS 1000), where a frame takes as long
# as the render thread is busy with it, which shows the headroom under the budget.
#
#     bench/menufps_bench.sh [build-dir] [seconds]   build-dir defaults to build/ and holds client/tavrix
#
# The client only ever asks 127.0.0.1:8090 and sends to 127.0.0.1:5555, so both ports must be free.
# Without a display it runs under xvfb-run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-10}
client="$build/client/tavrix"
port=8090
menu="renderMode::switchMode() Switching to: Menu"

[ -x "$client" ] || { echo "no client at $client; build the tavrix target first" >&2; exit 1; }
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$seconds"
fi

work=$(mktemp -d)
server_pid="$work/assetserver.pid"
client_pid=""
cleanup() {
  [ -n "$client_pid" ] && kill -TERM "$client_pid" 2>/dev/null && wait "$client_pid" 2>/dev/null
  python3 "$root/tools/assetserver.py" stop --port "$port" --pid-file "$server_pid" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

python3 "$root/tools/publish.py" "$root/content" "$work/assets" 1 >/dev/null
python3 "$root/tools/assetserver.py" start "$work/assets" --port "$port" --pid-file "$server_pid" \
  --log "$work/assetserver.log" >/dev/null 2>"$work/assetserver.start" || { cat "$work/assetserver.start" >&2; exit 1; }

# One client run with the settings given as cvar.db lines; prints its figures under the label.
measure() {
  local label=$1 settings=$2 listener status=0
  rm -rf "$work/run" && mkdir -p "$work/run"
  printf '20131017\n11:video.width:i:1280\n12:video.height:i:1024\n%b' "$settings" >"$work/run/cvar.db"
  # The console listens before the client starts; it keeps the datagrams that arrive once the menu is up.
  python3 - "$work/run/client.log" "$menu" "$seconds" "$label" >"$work/figures" <<'PY' &
import socket, statistics, struct, sys, time
log, menu, seconds, label = sys.argv[1], sys.argv[2].encode(), float(sys.argv[3]), sys.argv[4]
console = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
console.bind(("127.0.0.1", 5555))
console.settimeout(0.5)
def menu_shown():
    try:
        with open(log, "rb") as f:
            return menu in f.read()
    except OSError:
        return False
deadline = time.monotonic() + 120
while not menu_shown() and time.monotonic() < deadline:
    try:
        console.recv(65536)
    except socket.timeout:
        pass
time.sleep(2)  # the menu page loads and draws first
fps, ui = [], []
until = time.monotonic() + seconds
while time.monotonic() < until:
    try:
        datagram = console.recv(65536)
    except socket.timeout:
        continue
    if len(datagram) == 13 and datagram[:1] == b"P":
        _, frame, ui_fps = struct.unpack("<iii", datagram[1:])
        fps.append(frame)
        ui.append(ui_fps)
if not fps:
    sys.exit("no performance datagram arrived")
def describe(values):
    values = sorted(values)
    return statistics.median(values), values[len(values) // 10]
(fm, f10), (um, u10) = describe(fps), describe(ui)
print(f"menu at 1280x1024, {label}: {len(fps)} reports over {seconds:.0f} s")
print(f"render thread: median {fm} fps ({1000 / max(fm, 1):.2f} ms a frame), 10th percentile {f10} fps, median/60 Hz budget {fm / 60:.2f}")
print(f"UI Worker:     median {um} cycles/s, 10th percentile {u10}, median/60 Hz budget {um / 60:.2f}")
PY
  listener=$!
  sleep 0.5
  (cd "$work/run" && ALSOFT_DRIVERS=null exec "$client") >"$work/run/stdout.log" 2>&1 &
  client_pid=$!
  wait "$listener" || status=$?
  kill -TERM "$client_pid" 2>/dev/null || true
  wait "$client_pid" 2>/dev/null || true
  client_pid=""
  cat "$work/figures"
  if [ "$status" -ne 0 ]; then
    tail -n 20 "$work/run/client.log" >&2
    exit "$status"
  fi
}

measure "vsync on (as played)" ""
measure "vsync off, UI Worker at 1000 cycles/s (headroom)" '11:video.vsync:i:0\n12:ui.updateFPS:i:1000\n'

