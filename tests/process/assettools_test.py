#!/usr/bin/env python3
"""The asset publisher's output bytes and refusals, the local asset server, and the bundled pages."""

import html.parser
import http.client
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PUBLISH = os.path.join(ROOT, "tools", "publish.py")
ASSETSERVER = os.path.join(ROOT, "tools", "assetserver.py")
CONTENT = os.path.join(ROOT, "content")

SHA_ABC = b"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"
SHA_EMPTY = b"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"
SHA_X = b"2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881"


def write(root, name, data):
    path = os.path.join(os.fsencode(root), name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def run(*args):
    return subprocess.run([sys.executable, *args], capture_output=True, timeout=60)


def listing(folder):
    """Every path below folder, relative, hidden leftovers included."""
    found = []
    for parent, dirs, names in os.walk(folder):
        found += [os.path.relpath(os.path.join(parent, n), folder) for n in dirs + names]
    return sorted(found)


class PublishTest(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory()
        self.tree = os.path.join(self.temp.name, "tree")
        self.out = os.path.join(self.temp.name, "out")
        os.mkdir(self.tree)

    def tearDown(self):
        self.temp.cleanup()

    def publish(self, version):
        return run(PUBLISH, self.tree, self.out, version)

    def test_layout_and_list_bytes(self):
        longest = b"data/" + b"n" * 122
        write(self.tree, b"data/b.txt", b"abc")
        write(self.tree, b"data/a/empty", b"")
        write(self.tree, b"data/A.bin", b"x")
        write(self.tree, b"data/odd:name,1.txt", b"abc")
        write(self.tree, b"data/sub/\xc3\xa4 \xff.txt", b"x")
        write(self.tree, longest, b"")
        result = self.publish("7")
        self.assertEqual(result.returncode, 0, result.stderr)

        with open(os.path.join(self.out, "currentVersion.txt"), "rb") as f:
            self.assertEqual(f.read(), b"7")
        with open(os.path.join(self.out, "7", "fileDB.txt"), "rb") as f:
            self.assertEqual(f.read(), b"6\n"
                             b"10:data/A.bin,1," + SHA_X + b"\n"
                             b"12:data/a/empty,0," + SHA_EMPTY + b"\n"
                             b"10:data/b.txt,3," + SHA_ABC + b"\n"
                             b"127:" + longest + b",0," + SHA_EMPTY + b"\n"
                             b"19:data/odd:name,1.txt,3," + SHA_ABC + b"\n"
                             b"17:data/sub/\xc3\xa4 \xff.txt,1," + SHA_X + b"\n")
        for name, data in [(b"data/b.txt", b"abc"), (b"data/a/empty", b""), (b"data/sub/\xc3\xa4 \xff.txt", b"x")]:
            with open(os.path.join(os.fsencode(self.out), b"7", name), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertEqual(sorted(os.listdir(self.out)), ["7", "currentVersion.txt"], "no leftovers")

    def test_empty_tree_lists_no_files(self):
        self.assertEqual(self.publish("1").returncode, 0)
        with open(os.path.join(self.out, "1", "fileDB.txt"), "rb") as f:
            self.assertEqual(f.read(), b"0\n")

    def test_names_the_client_refuses(self):
        cases = [
            (b"x", "not under data/"),
            (b"dev/data/x", "not under data/"),
            (b"data/meta/contentDB", "data/meta/"),
            (b"data/" + b"n" * 123, "128 bytes"),
            (b"data/x\ny", "control byte 0x0a"),
            (b"data/x\x7f", "control byte 0x7f"),
            (b"data/back\\slash", "backslash"),
        ]
        for i, (name, message) in enumerate(cases):
            with self.subTest(name=name):
                self.tree = os.path.join(self.temp.name, f"tree{i}")
                self.out = os.path.join(self.temp.name, f"out{i}")
                write(self.tree, b"data/good.txt", b"abc")
                write(self.tree, name, b"abc")
                result = self.publish("3")
                self.assertEqual(result.returncode, 1)
                self.assertIn(message, result.stderr.decode())
                self.assertEqual(listing(self.out), [], "nothing is published")

    def test_links_are_refused(self):
        write(self.tree, b"data/good.txt", b"abc")
        os.symlink("/etc/passwd", os.path.join(self.tree, "data", "link"))
        result = self.publish("3")
        self.assertEqual(result.returncode, 1)
        self.assertIn("'data/link' is a link", result.stderr.decode())
        self.assertEqual(listing(self.out), [])

    def test_versions(self):
        write(self.tree, b"data/f", b"abc")
        for bad in ["0", "-1", "+2", "abc", "", "4294967296", "\u0663"]:
            with self.subTest(version=bad):
                result = self.publish(bad)
                self.assertEqual(result.returncode, 1)
                self.assertIn("version", result.stderr.decode())
        self.assertFalse(os.path.exists(self.out))

        self.assertEqual(self.publish("4294967295").returncode, 0)
        self.assertEqual(listing(self.out), ["4294967295", "4294967295/data", "4294967295/data/f",
                                             "4294967295/fileDB.txt", "currentVersion.txt"])

    def test_a_published_version_never_changes(self):
        write(self.tree, b"data/f", b"abc")
        self.assertEqual(self.publish("5").returncode, 0)
        before = listing(self.out)
        self.assertEqual(self.publish("5").returncode, 0, "publishing the same tree again is harmless")
        self.assertEqual(listing(self.out), before)

        write(self.tree, b"data/f", b"x")
        result = self.publish("5")
        self.assertEqual(result.returncode, 1)
        self.assertIn("already published", result.stderr.decode())
        result = self.publish("4")
        self.assertEqual(result.returncode, 1)
        self.assertIn("already serves version 5", result.stderr.decode())
        self.assertEqual(listing(self.out), before)
        with open(os.path.join(self.out, "5", "data", "f"), "rb") as f:
            self.assertEqual(f.read(), b"abc")

        self.assertEqual(self.publish("6").returncode, 0)
        with open(os.path.join(self.out, "currentVersion.txt"), "rb") as f:
            self.assertEqual(f.read(), b"6")
        self.assertTrue(os.path.isfile(os.path.join(self.out, "5", "data", "f")),
                        "clients still updating to 5 keep finding its files")

    def test_output_inside_the_tree_is_refused(self):
        write(self.tree, b"data/f", b"abc")
        result = run(PUBLISH, self.tree, os.path.join(self.tree, "data", "out"), "1")
        self.assertEqual(result.returncode, 1)
        self.assertIn("inside the content tree", result.stderr.decode())


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def running(pid):
    """True while the process exists and has not ended (an ended one may wait for its reaper)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


class AssetServerTest(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory()
        self.out = os.path.join(self.temp.name, "out")
        self.pid_file = os.path.join(self.temp.name, "server.pid")
        self.log = os.path.join(self.temp.name, "server.log")
        self.port = free_port()
        tree = os.path.join(self.temp.name, "tree")
        write(tree, b"data/odd:name, \xc3\xa4 \xff?#%.txt", b"abc")
        write(tree, b"data/empty", b"")
        self.assertEqual(run(PUBLISH, tree, self.out, "2").returncode, 0)

    def tearDown(self):
        run(ASSETSERVER, "stop", "--pid-file", self.pid_file)
        self.temp.cleanup()

    def start(self):
        return run(ASSETSERVER, "start", self.out, "--port", str(self.port), "--pid-file", self.pid_file,
                   "--log", self.log)

    def get(self, path, method="GET"):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        try:
            connection.request(method, path)
            response = connection.getresponse()
            return response.status, response.getheader("Content-Length"), response.read()
        finally:
            connection.close()

    def test_serves_the_published_folder_in_the_background(self):
        started = self.start()
        self.assertEqual(started.returncode, 0, started.stderr)
        pid = int(started.stdout)
        with open(self.pid_file) as f:
            self.assertEqual(int(f.read()), pid)

        self.assertEqual(self.get("/currentVersion.txt"), (200, "1", b"2"))
        status, length, body = self.get("/2/fileDB.txt")
        self.assertEqual((status, length), (200, str(len(body))))
        self.assertTrue(body.startswith(b"2\n"))
        self.assertEqual(self.get("/2/data/odd%3Aname%2C%20%C3%A4%20%FF%3F%23%25.txt"), (200, "3", b"abc"))
        self.assertEqual(self.get("/2/data/empty"), (200, "0", b""))
        self.assertEqual(self.get("/2/fileDB.txt", "HEAD")[:2], (200, length))
        for missing in ["/3/fileDB.txt", "/2/", "/2/data", "/2/../currentVersion.txt", "/2/data/%2e%2e/fileDB.txt"]:
            with self.subTest(path=missing):
                status, length, body = self.get(missing)
                self.assertEqual((status, length), (404, str(len(body))))

        busy = self.start()
        self.assertNotEqual(busy.returncode, 0)
        self.assertIn("cannot listen", busy.stderr.decode())
        with open(self.pid_file) as f:
            self.assertEqual(int(f.read()), pid, "a failed start keeps the running server's pid file")

        stopped = run(ASSETSERVER, "stop", "--pid-file", self.pid_file)
        self.assertEqual(stopped.returncode, 0, stopped.stderr)
        self.assertFalse(os.path.exists(self.pid_file))
        self.assertFalse(running(pid))
        self.assertNotEqual(run(ASSETSERVER, "stop", "--pid-file", self.pid_file).returncode, 0)

    def test_foreground_server_stops_on_sigterm(self):
        server = subprocess.Popen([sys.executable, ASSETSERVER, "serve", self.out, "--port", str(self.port)],
                                  stderr=subprocess.PIPE)
        try:
            deadline = time.monotonic() + 30
            while True:
                try:
                    self.assertEqual(self.get("/currentVersion.txt")[2], b"2")
                    break
                except ConnectionRefusedError:
                    self.assertLess(time.monotonic(), deadline)
                    time.sleep(0.05)
            server.send_signal(signal.SIGTERM)
            self.assertEqual(server.wait(timeout=30), 0)
            self.assertIn(b"assetserver: stopped", server.stderr.read())
        finally:
            if server.poll() is None:
                server.kill()
                server.wait()
            server.stderr.close()


class PageScan(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids = set()
        self.references = []

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if name == "id":
                self.ids.add(value)
            if name in ("src", "href") or (tag == "link"):
                self.references.append((tag, name, value))


class BundledContentTest(unittest.TestCase):
    def test_pages(self):
        pages = {
            "data/ui/mainMenu.titleScreen/index.html": {"credits"},
            "data/ui/mainMenu.titleScreen/credits.html": {"back"},
            "data/ui/sys.loadingScreenWindow/index.html": {"progress", "status"},
            "data/ui/sys.downloadWindow/index.html": {"progress", "status"},
        }
        for page, ids in pages.items():
            with self.subTest(page=page):
                with open(os.path.join(CONTENT, page), encoding="utf-8") as f:
                    text = f.read()
                scan = PageScan()
                scan.feed(text)
                self.assertLessEqual(ids, scan.ids, "the client's progress and status statements need these")
                folder = os.path.dirname(os.path.join(CONTENT, page))
                loads = [r for r in scan.references if r[:2] != ("a", "href")]
                self.assertEqual(loads, [], "pages load nothing but their images")
                for _, _, target in scan.references:
                    self.assertRegex(target, r"^[A-Za-z0-9._-]+\.html$", "a link leads to a page beside it")
                    self.assertTrue(os.path.isfile(os.path.join(folder, target)), target)
                for outside in ["@import", "@font-face", "http:", "https:"]:
                    self.assertNotIn(outside, text)
                # The stand-in engine draws none of these: a page uses images instead.
                for undrawn in ["gradient", "@keyframes", "animation", "transform", "box-shadow", "text-shadow",
                                "letter-spacing", "opacity"]:
                    self.assertNotIn(undrawn, text)
                for image in re.findall(r'url\(\s*"([^"]*)"\s*\)', text):
                    self.assertRegex(image, r"^[A-Za-z0-9._-]+$", "an image beside the page")
                    self.assertTrue(os.path.isfile(os.path.join(folder, image)), image)
                self.assertEqual(text.count("url("), len(re.findall(r'url\(\s*"', text)), "addresses are quoted")

    def test_the_bundled_tree_publishes(self):
        with tempfile.TemporaryDirectory() as out:
            result = run(PUBLISH, CONTENT, out, "1")
            self.assertEqual(result.returncode, 0, result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
