#!/usr/bin/env python3
"""Publishes a content tree as one version of the asset server's folder.

    tools/publish.py <content-tree> <out-dir> <version>

Every regular file under <content-tree> becomes <out-dir>/<version>/<path>, listed with its size and
SHA-256 in <out-dir>/<version>/fileDB.txt; <out-dir>/currentVersion.txt then names <version>. Paths are
the tree's relative paths ("data/ui/mainMenu.titleScreen/index.html"). A published version never
changes: the version folder is built under a hidden name and renamed into place, and
currentVersion.txt is replaced last, so a server reading the folder meanwhile only ever sees a whole
version.
"""

import hashlib
import os
import shutil
import sys
import tempfile

MAX_NAME_LENGTH = 127
MAX_FILE_SIZE = 0xFFFFFFFF
MAX_VERSION = 0xFFFFFFFF
CHUNK = 1 << 20


class PublishError(Exception):
    pass


def show(name):
    return repr(os.fsdecode(name))


def check_name(name):
    """Refuses a path (bytes) that the client would not store, so a published list never fails."""
    if len(name) > MAX_NAME_LENGTH:
        raise PublishError(f"{show(name)} is {len(name)} bytes long; at most {MAX_NAME_LENGTH} are allowed")
    if not name.startswith(b"data/"):
        raise PublishError(f"{show(name)} is not under data/")
    if name.startswith(b"data/meta/"):
        raise PublishError(f"{show(name)} is under data/meta/, which holds the client's own database")
    for byte in name:
        if byte < 0x20 or byte == 0x7F:
            raise PublishError(f"{show(name)} holds the control byte 0x{byte:02x}")
        if byte == ord("\\"):
            raise PublishError(f"{show(name)} holds a backslash")
    for component in name.split(b"/"):
        if component in (b"", b".", b".."):
            raise PublishError(f"{show(name)} has an empty, '.' or '..' component")


def collect(root, prefix=b""):
    """Lists (content path, file path) for every file under root; anything but a file or folder is refused."""
    found = []
    with os.scandir(root) as entries:
        for entry in entries:
            name = prefix + os.fsencode(entry.name)
            if entry.is_dir(follow_symlinks=False):
                found += collect(entry.path, name + b"/")
            elif entry.is_file(follow_symlinks=False):
                found.append((name, entry.path))
            else:
                raise PublishError(f"{show(name)} is a link or a special file; only files and folders are published")
    return found


def copy_and_hash(source, target):
    """Copies one file, hashing the bytes as they are written, so the list describes exactly the copy."""
    digest = hashlib.sha256()
    size = 0
    with open(source, "rb") as src, open(target, "xb") as dst:
        while chunk := src.read(CHUNK):
            digest.update(chunk)
            dst.write(chunk)
            size += len(chunk)
    return size, digest.hexdigest()


def build_version(tree, folder):
    """Fills folder with the tree's files and their list; returns the number of files."""
    files = collect(tree)
    for name, _ in files:
        check_name(name)
    files.sort()
    lines = [b"%d\n" % len(files)]
    for name, source in files:
        target = os.path.join(folder, os.fsdecode(name))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        size, sha = copy_and_hash(source, target)
        if size > MAX_FILE_SIZE:
            raise PublishError(f"{show(name)} is {size} bytes long; at most {MAX_FILE_SIZE} are allowed")
        lines.append(b"%d:%s,%d,%s\n" % (len(name), name, size, sha.encode("ascii")))
    with open(os.path.join(folder, "fileDB.txt"), "xb") as out:
        out.write(b"".join(lines))
    return len(files)


def parse_version(text):
    if not text.isascii() or not text.isdigit():
        raise PublishError(f"the version {text!r} is not an unsigned decimal number")
    version = int(text)
    if not 1 <= version <= MAX_VERSION:
        raise PublishError(f"the version {text!r} is outside 1..{MAX_VERSION}")
    return version


def read_current_version(out):
    try:
        with open(os.path.join(out, "currentVersion.txt"), "rb") as f:
            text = f.read().decode("ascii", "replace").strip()
    except FileNotFoundError:
        return None
    if not text.isascii() or not text.isdigit():
        raise PublishError(f"{out}/currentVersion.txt holds {text!r}, not a version")
    return int(text)


def hash_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(CHUNK):
            digest.update(chunk)
    return digest.digest()


def same_tree(a, b):
    """True when two published version folders hold the same names and bytes."""
    def contents(folder):
        return {name: hash_file(path) for name, path in collect(folder)}
    return contents(a) == contents(b)


def write_current_version(out, version):
    fd, temp = tempfile.mkstemp(prefix=".currentVersion.", dir=out)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(b"%d" % version)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(temp, 0o644)
        os.replace(temp, os.path.join(out, "currentVersion.txt"))
    except BaseException:
        os.unlink(temp)
        raise


def publish(tree, out, version_text):
    version = parse_version(version_text)
    if not os.path.isdir(tree):
        raise PublishError(f"the content tree {tree!r} is not a folder")
    real_tree = os.path.realpath(tree)
    real_out = os.path.realpath(out)
    if real_out == real_tree or real_out.startswith(real_tree + os.sep):
        raise PublishError(f"the output folder {out!r} lies inside the content tree {tree!r}")
    os.makedirs(out, exist_ok=True)
    current = read_current_version(out)
    if current is not None and version < current:
        raise PublishError(f"{out} already serves version {current}; clients at that version would never "
                           f"fetch version {version}: publish a higher one")
    final = os.path.join(out, str(version))
    staging = tempfile.mkdtemp(prefix=f".publish-{version}.", dir=out)
    try:
        count = build_version(tree, staging)
        if os.path.lexists(final):
            if not same_tree(staging, final):
                raise PublishError(f"version {version} is already published in {out} with other content; "
                                   f"a published version never changes: publish a higher one")
        else:
            os.chmod(staging, 0o755)
            os.sync()
            os.rename(staging, final)
    finally:
        if os.path.lexists(staging):
            shutil.rmtree(staging)
    if current != version:
        write_current_version(out, version)
    return version, count


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(f"usage: {argv[0]} <content-tree> <out-dir> <version>\n")
        return 2
    try:
        version, count = publish(argv[1], argv[2], argv[3])
    except (PublishError, OSError) as e:
        sys.stderr.write(f"publish: {e}\n")
        return 1
    print(f"publish: version {version} of {argv[1]} ({count} files) is served from {argv[2]}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
