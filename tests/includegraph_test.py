#!/usr/bin/env python3
"""The include check against a small tree of two layers: an include up a layer fails in every spelling the
compiler takes, one down a layer passes, and an include it cannot read fails."""

import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools", "includegraph.py")

LAYERS = """tavrix_layer(base
  MODULES low
  LINKS platformlib)
tavrix_layer(app
  MODULES high
  LINKS tavrix_base)
add_executable(tavrix main.cpp)
target_link_libraries(tavrix PRIVATE tavrix_app)
"""


def tree(root, low_cpp):
    files = {
        "client/CMakeLists.txt": LAYERS,
        "client/low.h": "#pragma once\n",
        "client/low.cpp": low_cpp,
        "client/high.h": "#pragma once\n#include \"client/low.h\"\n",
        "client/high.cpp": "#include \"low.h\"\n#include <client/low.h>\n#include <cstdint>\n",
        "client/main.cpp": "#include \"client/high.h\"\n",
        "platformlib/base.h": "#pragma once\n",
    }
    for name, text in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)


def check(low_cpp):
    with tempfile.TemporaryDirectory() as root:
        tree(root, low_cpp)
        return subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True, timeout=60)


class IncludeGraphTest(unittest.TestCase):
    def test_downward_includes_pass_in_every_spelling(self):
        result = check('#include "low.h"\n#include "platformlib/base.h"\n#include <vector>\n')
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn("no circle, no arrow up a layer", result.stdout)

    def test_an_upward_include_fails_in_every_spelling(self):
        for spelling in ('"client/high.h"', "<client/high.h>", '"high.h"', '"../client/high.h"',
                         '  "high.h"  // the app', "<client/./high.h>"):
            with self.subTest(spelling=spelling):
                result = check(f"#include {spelling}\n")
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn("a layer it does not stand on", result.stdout)

    def test_an_include_it_cannot_read_fails(self):
        result = check("#define HIGH \"client/high.h\"\n#include HIGH\n")
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("an include it cannot read: #include HIGH", result.stdout)


if __name__ == "__main__":
    unittest.main()
