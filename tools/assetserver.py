#!/usr/bin/env python3
"""Local asset server: serves a folder written by tools/publish.py on 127.0.0.1.

    tools/assetserver.py serve <folder> [--port N] [--pid-file F]   in the foreground, until Ctrl-C or SIGTERM
    tools/assetserver.py start <folder> [--port N] [--pid-file F] [--log F]
                                                                    in the background; returns once it listens
                                                                    and prints its process id
    tools/assetserver.py stop [--port N] [--pid-file F]             stops the one that start began

The port is 8090 unless given. Every response carries a Content-Length. Only regular files below the
folder are served; a request path is percent-decoded to bytes, so any published name is found as is.
"""

import argparse
import http.server
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

DEFAULT_PORT = 8090
STOP_WAIT_SECONDS = 10


def default_file(port, suffix):
    return os.path.join(tempfile.gettempdir(), f"tavrix-assetserver-{os.getuid()}-{port}.{suffix}")


class AssetHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TavrixAssetServer/1"
    # TCP_NODELAY: a kept-alive connection's response must not wait for the peer's delayed acknowledgement.
    disable_nagle_algorithm = True
    root = b"."

    def resolve(self):
        """The file a request names, or None when it names no regular file below the root."""
        raw = self.path.split("?", 1)[0].split("#", 1)[0]
        parts = urllib.parse.unquote_to_bytes(raw.encode("latin-1")).split(b"/")
        if parts[0] != b"" or any(p in (b".", b"..") or b"\0" in p for p in parts[1:]):
            return None
        path = os.path.realpath(os.path.join(self.root, *[p for p in parts[1:] if p]))
        if not path.startswith(self.root + b"/") or not os.path.isfile(path):
            return None
        return path

    def send_file(self, with_body):
        path = self.resolve()
        if path is None:
            self.send_error(404)
            return
        try:
            f = open(path, "rb")
        except OSError:
            self.send_error(404)
            return
        with f:
            size = os.fstat(f.fileno()).st_size
            body = f.read(size) if with_body else b""
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.send_header("Cache-Control", "no-store")
            self.end_headers(body)

    def end_headers(self, body=b""):
        """Ends the headers and sends them with the body in one write."""
        self._headers_buffer.append(b"\r\n" + body)
        self.flush_headers()

    def do_GET(self):
        self.send_file(True)

    def do_HEAD(self):
        self.send_file(False)


class AssetServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def write_pid_file(path):
    temp = f"{path}.{os.getpid()}.tmp"
    with open(temp, "w") as f:
        f.write(f"{os.getpid()}\n")
    os.replace(temp, path)


def remove_own_pid_file(path):
    try:
        with open(path) as f:
            if f.read().strip() == str(os.getpid()):
                os.unlink(path)
    except OSError:
        pass


def serve(folder, port, pid_file, ready_fd):
    if not os.path.isdir(folder):
        sys.stderr.write(f"assetserver: {folder!r} is not a folder\n")
        return 1
    AssetHandler.root = os.fsencode(os.path.realpath(folder))
    try:
        server = AssetServer(("127.0.0.1", port), AssetHandler)
    except OSError as e:
        sys.stderr.write(f"assetserver: cannot listen on 127.0.0.1:{port}: {e.strerror}\n")
        return 1
    # SIGTERM ends the loop as Ctrl-C does; shutdown() must come from another thread than the loop's.
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    if pid_file:
        write_pid_file(pid_file)
    sys.stderr.write(f"assetserver: serving {folder} on http://127.0.0.1:{port}/ (pid {os.getpid()})\n")
    sys.stderr.flush()
    if ready_fd is not None:
        os.write(ready_fd, b"ready\n")
        os.close(ready_fd)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        if pid_file:
            remove_own_pid_file(pid_file)
    sys.stderr.write("assetserver: stopped\n")
    return 0


def start(folder, port, pid_file, log_file):
    """Starts serve in a session of its own and waits until it listens or fails."""
    read_end, write_end = os.pipe()
    with open(log_file, "ab") as log:
        log_start = log.tell()
        child = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "serve", folder, "--port", str(port),
             "--pid-file", pid_file, "--ready-fd", str(write_end)],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, pass_fds=(write_end,), start_new_session=True)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as ready:
        started = ready.read() == b"ready\n"
    if not started:
        child.wait()
        with open(log_file, "rb") as log:
            log.seek(log_start)
            sys.stderr.write(log.read().decode(errors="replace"))
        sys.stderr.write(f"assetserver: did not start (see {log_file})\n")
        return 1
    print(child.pid)
    sys.stderr.write(f"assetserver: started, pid {child.pid}, pid file {pid_file}, log {log_file}\n")
    return 0


def is_our_server(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            args = f.read().split(b"\0")
    except OSError:
        return False
    return any(a.endswith(b"assetserver.py") for a in args) and b"serve" in args


def stop(pid_file):
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        sys.stderr.write(f"assetserver: no running server recorded in {pid_file}\n")
        return 1
    if not is_our_server(pid):
        sys.stderr.write(f"assetserver: process {pid} of {pid_file} is not running as the asset server\n")
        os.unlink(pid_file)
        return 1
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + STOP_WAIT_SECONDS
    while is_our_server(pid) and time.monotonic() < deadline:
        time.sleep(0.05)
    if is_our_server(pid):
        sys.stderr.write(f"assetserver: process {pid} did not stop within {STOP_WAIT_SECONDS} s\n")
        return 1
    if os.path.exists(pid_file):
        os.unlink(pid_file)
    sys.stderr.write(f"assetserver: stopped process {pid}\n")
    return 0


def main(argv):
    parser = argparse.ArgumentParser(prog="assetserver.py", description="Local asset server on 127.0.0.1.")
    commands = parser.add_subparsers(dest="command", required=True)
    for name in ("serve", "start", "stop"):
        command = commands.add_parser(name)
        if name != "stop":
            command.add_argument("folder")
        command.add_argument("--port", type=int, default=DEFAULT_PORT)
        command.add_argument("--pid-file")
        if name == "start":
            command.add_argument("--log")
        if name == "serve":
            command.add_argument("--ready-fd", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args(argv[1:])
    if not 1 <= args.port <= 65535:
        parser.error(f"port {args.port} is outside 1..65535")
    if args.command == "serve":
        return serve(args.folder, args.port, args.pid_file, args.ready_fd)
    pid_file = args.pid_file or default_file(args.port, "pid")
    if args.command == "start":
        return start(args.folder, args.port, pid_file, args.log or default_file(args.port, "log"))
    return stop(pid_file)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
