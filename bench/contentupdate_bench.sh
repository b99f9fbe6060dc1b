#!/usr/bin/env bash
# Content update on loopback: the real client against curl, for a first start (a generated version of
# 2000 files / 200 MB to fetch: the bundled content and random files) and a second start (nothing to fetch).
#
#     bench/contentupdate_bench.sh [build-dir]      build-dir defaults to build/ and holds client/tavrix
#
# A client start is timed from its launch to the log line that ends its content step ("Async
# Initialization of VFS took"): the content is then current and the pages are set. That line's own time
# (the content step alone, without the window's and the engine's start) is shown beside. The baselines are one
# curl process fetching every URL in turn over the connection it keeps, as the client keeps its own
# (first start), and currentVersion.txt plus the file list (second start). The client only ever asks
# 127.0.0.1:8090, so that port must be free. Without a display it runs under xvfb-run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
client="$build/client/tavrix"
port=8090
files=2000
file_size=$((200 * 1000 * 1000 / files))
content_current="Async Initialization of VFS took"

[ -x "$client" ] || { echo "no client at $client; build the tavrix target first" >&2; exit 1; }
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build"
fi
# Reusing the address as the server does, so only a listener (not a closed connection) counts as busy.
if ! python3 -c "import socket; s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(('127.0.0.1', $port))" 2>/dev/null; then
  echo "port $port is busy; stop whatever listens there first" >&2
  exit 1
fi

work=$(mktemp -d)
server_pid="$work/assetserver.pid"
cleanup() {
  python3 "$root/tools/assetserver.py" stop --port "$port" --pid-file "$server_pid" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The bundled content, so that the client starts as it does at home, and random files of one size.
cp -r "$root/content" "$work/tree"
python3 - "$work/tree" "$files" "$file_size" <<'EOF'
import os, sys
root, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
bundled = sum(len(names) for _, _, names in os.walk(f"{root}/data"))
for i in range(count - bundled):
    folder = f"{root}/data/bench/d{i // 100:02d}"
    os.makedirs(folder, exist_ok=True)
    with open(f"{folder}/f{i:04d}.bin", "wb") as f:
        f.write(os.urandom(size))
EOF
version=1000
python3 "$root/tools/publish.py" "$work/tree" "$work/assets" "$version" >/dev/null
python3 "$root/tools/assetserver.py" start "$work/assets" --port "$port" --pid-file "$server_pid" \
  --log "$work/assetserver.log" >/dev/null 2>"$work/assetserver.start" || { cat "$work/assetserver.start" >&2; exit 1; }
base="http://127.0.0.1:$port"

# Milliseconds from launch until the content is current, and of the content step as the client logs it;
# the client is then ended and waited for. The log must hold the first line given and not the second,
# which tells whether this start fetched anything.
client_run() {
  local expected=$1 unexpected=$2 dir="$work/run" start pid elapsed=""
  mkdir -p "$dir"
  rm -f "$dir/client.log"
  start=$(now_ms)
  (cd "$dir" && ALSOFT_DRIVERS=null exec "$client") >"$dir/stdout.log" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    if grep -qaF "$content_current" "$dir/client.log" 2>/dev/null; then
      elapsed=$(($(now_ms) - start))
      break
    fi
    sleep 0.005
  done
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || true
  if [ -z "$elapsed" ]; then
    echo "the client ended before its content was current; see its log:" >&2
    tail -n 20 "$dir/client.log" >&2 || true
    exit 1
  fi
  if ! grep -qaF "$expected" "$dir/client.log" || grep -qaF "$unexpected" "$dir/client.log"; then
    echo "client.log should hold \"$expected\" and not \"$unexpected\"; its end:" >&2
    tail -n 20 "$dir/client.log" >&2
    exit 1
  fi
  echo "$elapsed $(grep -aoE "$content_current [0-9]+" "$dir/client.log" | grep -oE '[0-9]+$')"
}

# Milliseconds for one curl process fetching the given paths into a fresh folder.
curl_run() {
  local dir="$work/curl" config="$work/curl.cfg" start path
  rm -rf "$dir" && mkdir -p "$dir"
  : >"$config"
  for path in "$@"; do
    printf 'url = "%s/%s"\noutput = "%s/%s"\n' "$base" "$path" "$dir" "$path" >>"$config"
  done
  start=$(now_ms)
  curl -sSf --create-dirs -K "$config"
  echo $(($(now_ms) - start))
}

mapfile -t paths < <(cd "$work/tree" && find data -type f | sort)
read -r first_client first_step < <(client_run "vfs: Update to Content-Version $version complete" "downloadAndPatch()")
first_curl=$(curl_run "${paths[@]/#/$version/}")
read -r second_client second_step < <(client_run "vfs: Local Assetserver returned Content Version $version" "vfs: Update Required")
second_curl=$(curl_run currentVersion.txt "$version/fileDB.txt")

ratio() { python3 -c "print(f'{$1 / max($2, 1):.2f}')"; }
echo "content update, ${#paths[@]} files (the bundled content, the rest of $file_size bytes each) on 127.0.0.1:$port"
echo "first start:  client $first_client ms (content step $first_step ms), curl (one process, all URLs in turn) $first_curl ms, client/curl $(ratio "$first_client" "$first_curl") (content step $(ratio "$first_step" "$first_curl"))"
echo "second start: client $second_client ms (content step $second_step ms), curl (currentVersion.txt + fileDB.txt) $second_curl ms, client/curl $(ratio "$second_client" "$second_curl") (content step $(ratio "$second_step" "$second_curl"))"
