#!/usr/bin/env python3
"""Checks the include graph against the layers the build has.

A module is a file pair (x.h and x.cpp, with a local header xlocal.h where it has one). The
client's layers and their modules are read from client/CMakeLists.txt (tavrix_layer), the platform library
is the layer below them all, with its top floor (platform.h: start, stop and version) included from outside
it only. The check fails when a module includes one of a layer it does not stand on, when modules include
each other in a circle, or when a client header belongs to no layer. An include is resolved as the compiler
resolves it, whatever its spelling: "x.h" beside the including file first, then from the source root (the
one include folder the build gives), <x.h> from the source root only. An include it cannot read (a macro)
fails the check.

Usage: includegraph.py [source root] [--graph]   (--graph also prints every module's includes)
"""
import os
import re
import sys

DIRECTIVE = re.compile(r"^\s*#\s*include\b(.*)$", re.M)
SPELLING = re.compile(r'\s*(?:"([^"]+)"|<([^>]+)>)\s*(?://.*|/\*.*)?$')
LAYER_CALL = re.compile(r"^tavrix_layer\((\w+)(.*?)\)", re.S | re.M)
PROGRAM = re.compile(r"^add_executable\(tavrix (\w+)\.cpp\)", re.M)
PROGRAM_LINKS = re.compile(r"^target_link_libraries\(tavrix .*?tavrix_(\w+)", re.M)
KEYWORDS = ("MODULES", "HEADERS", "LINKS")
PLATFORM_TOP = "platformlib/platform"


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def parse_layers(root):
    """{layer: {"modules": [...], "links": [...]}} in the order the build declares them."""
    text = re.sub(r"#.*", "", read(os.path.join(root, "client", "CMakeLists.txt")))
    layers = {}
    for name, body in LAYER_CALL.findall(text):
        fields = {k: [] for k in KEYWORDS}
        current = None
        for word in body.split():
            if word in KEYWORDS:
                current = word
            elif current:
                fields[current].append(word)
        modules = ["client/" + m for m in fields["MODULES"] + fields["HEADERS"]]
        links = [l[len("tavrix_"):] if l.startswith("tavrix_") else "platform"
                 for l in fields["LINKS"] if l.startswith("tavrix_") or l == "platformlib"]
        layers[name] = {"modules": modules, "links": links}
    # The program's entry stands on the layer the executable links.
    layers["program"] = {"modules": ["client/" + PROGRAM.search(text).group(1)],
                         "links": [PROGRAM_LINKS.search(text).group(1)]}
    return layers


def module_of(path):
    """The module a source file belongs to: its path without extension; a local header (xlocal.h) as the
    module it belongs to."""
    stem = os.path.splitext(path)[0]
    if stem.endswith("local") and os.path.exists(os.path.join(ROOT, stem[: -len("local")] + ".h")):
        return stem[: -len("local")]
    return stem


def includes(path):
    """(spelling, file under the source root it names, or None) for each include of a source file, and the
    directives it cannot read."""
    found, unreadable = [], []
    for directive in DIRECTIVE.findall(read(os.path.join(ROOT, path))):
        spelled = SPELLING.match(directive)
        if not spelled:
            unreadable.append(directive.strip())
            continue
        quoted, angled = spelled.groups()
        name = quoted or angled
        folders = [os.path.dirname(path), ""] if quoted else [""]
        target = None
        for folder in folders:
            candidate = os.path.normpath(os.path.join(folder, name))
            if not candidate.startswith("..") and os.path.isfile(os.path.join(ROOT, candidate)):
                target = candidate
                break
        found.append((name, target))
    return found, unreadable


def sources(root):
    for top in ("platformlib", "client"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if name.endswith((".h", ".cpp")):
                    yield os.path.relpath(os.path.join(folder, name), root)


def strongly_connected(graph):
    """Tarjan's components of more than one module."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return found


def main(argv):
    global ROOT
    args = [a for a in argv if not a.startswith("--")]
    ROOT = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), ".."))
    show_graph = "--graph" in argv
    layers = parse_layers(ROOT)

    layer_of = {}
    for name, layer in layers.items():
        for module in layer["modules"]:
            layer_of[module] = name
    # What each layer may include: itself and every layer it links, directly or through another.
    allowed = {"platform": {"platform"}}
    for name in layers:
        reach, todo = {name}, list(layers[name]["links"])
        while todo:
            below = todo.pop()
            if below not in reach:
                reach.add(below)
                todo.extend(layers.get(below, {"links": []})["links"])
        allowed[name] = reach

    problems = []
    graph = {}
    for path in sources(ROOT):
        module = module_of(path)
        layer = "platform" if path.startswith("platformlib/") else layer_of.get(module)
        if layer is None:
            problems.append(f"{path}: belongs to no layer of client/CMakeLists.txt")
            continue
        found, unreadable = includes(path)
        for directive in unreadable:
            problems.append(f"{path}: an include it cannot read: #include {directive}")
        for spelling, included in found:
            if included is None or not included.startswith(("client/", "platformlib/")):
                continue
            if spelling != included:
                included_as = f"{included} (written {spelling})"
            else:
                included_as = included
            target = module_of(included)
            if target == module:
                continue
            graph.setdefault(module, set()).add(target)
            target_layer = "platform" if included.startswith("platformlib/") else layer_of.get(target)
            if target_layer is None:
                problems.append(f"{path}: includes {included_as}, which belongs to no layer")
            elif target_layer not in allowed[layer]:
                problems.append(f"{path} ({layer}): includes {included_as} ({target_layer}), a layer it does not stand on")
            if target == PLATFORM_TOP and path.startswith("platformlib/") and module != PLATFORM_TOP:
                problems.append(f"{path}: includes the platform library's top floor from inside it")
    for component in strongly_connected(graph):
        problems.append("modules include each other in a circle: " + ", ".join(component))

    print("layers (each links the ones after its arrow):")
    print("  platform: platformlib")
    for name, layer in layers.items():
        print(f"  {name} -> {', '.join(layer['links'])}: {len(layer['modules'])} modules")
    edges = sum(len(t) for t in graph.values())
    print(f"include graph: {len(graph)} modules with includes, {edges} module-to-module arrows")
    if show_graph:
        for module in sorted(graph):
            print(f"  {module} -> {', '.join(sorted(graph[module]))}")
    for problem in problems:
        print("FAIL " + problem)
    if not problems:
        print("no circle, no arrow up a layer")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
