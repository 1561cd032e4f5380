#!/usr/bin/env python3
"""The product keeps its shape: each layer includes only from itself and the
layers below it (Runtime, then Http, then Updater, with the toolkit ui beside
them on Runtime, and app on top), and no source file of the product grows
past 700 lines. docs/architecture.md explains the layers.

Run alone (`python3 tests/scripts/shape_test.py`) or by CTest; a failure
names each file and what it breaks."""

import os
import re
import sys
import tempfile
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

# What each folder of the product may include from, besides the system's
# and the libraries' headers (those in angle brackets).
MAY_USE = {
    "Runtime": {"Runtime"},
    "Http": {"Runtime", "Http"},
    "Updater": {"Runtime", "Http", "Updater"},
    "ui": {"Runtime", "ui"},
    "app": {"Runtime", "Http", "Updater", "ui", "app"},
}
MAX_LINES = 700
SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cpp", ".inl")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def product_sources(root):
    """Yields (layer, path relative to root) for every source file of the product."""
    for layer in MAY_USE:
        for folder, _, names in os.walk(os.path.join(root, layer)):
            for name in sorted(names):
                if name.endswith(SOURCE_SUFFIXES):
                    yield layer, os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def included_layer(root, source, target):
    """The product folder a quoted include reaches, or None (a library's header).
    Includes are written from the tree's root; one written relative to the file
    that escapes its own folder is followed."""
    candidates = [os.path.join(os.path.dirname(source), target), target]
    for candidate in candidates:
        parts = os.path.normpath(candidate).replace(os.sep, "/").split("/")
        if parts[0] in MAY_USE and os.path.exists(os.path.join(root, *parts)):
            return parts[0]
    return None


def problems(root):
    """Every break of the shape in the tree at `root`, as readable lines."""
    found = []
    for layer, path in product_sources(root):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        lines = text.count("\n") + (0 if text.endswith("\n") or not text else 1)
        if lines > MAX_LINES:
            found.append(f"{path}: {lines} lines (at most {MAX_LINES}); split it by concern")
        for target in INCLUDE.findall(text):
            reached = included_layer(root, path, target)
            if reached and reached not in MAY_USE[layer]:
                found.append(f'{path}: includes "{target}", but {layer}/ may use only '
                             f'{", ".join(sorted(MAY_USE[layer]))}')
    return found


class Shape(unittest.TestCase):
    def test_the_tree_keeps_its_layers_and_file_sizes(self):
        self.assertEqual(problems(ROOT), [])

    def planted(self, files):
        """The problems of a small tree holding `files` (path -> text)."""
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                    f.write(text)
            return problems(root)

    def test_an_include_pointing_up_a_layer_is_found_however_it_is_written(self):
        base = {"app/CommonUtils.h": "#pragma once\n", "ui/Control.h": "#pragma once\n",
                "Http/HttpMgr.h": "#pragma once\n", "Runtime/Logger.h": "#pragma once\n"}
        cases = [
            ("Updater/UpdateModule.cpp", '#include "app/CommonUtils.h"\n', "app/CommonUtils.h"),
            ("Updater/UpdateModule.cpp", '#include "../app/CommonUtils.h"\n', "../app/CommonUtils.h"),
            ("Runtime/FileOps.cpp", '  #  include "Http/HttpMgr.h"\n', "Http/HttpMgr.h"),
            ("Http/CurlHttp.cpp", '#include "ui/Control.h"\n', "ui/Control.h"),
            ("ui/Label.cpp", '#include "Http/HttpMgr.h"\n', "Http/HttpMgr.h"),
            ("Runtime/sub/Deep.h", '#include "app/CommonUtils.h"\n', "app/CommonUtils.h"),
        ]
        for path, text, target in cases:
            with self.subTest(path=path, include=target):
                found = self.planted({**base, path: text})
                self.assertEqual(len(found), 1, found)
                self.assertIn(path, found[0])
                self.assertIn(target, found[0])

    def test_includes_down_the_layers_and_library_headers_pass(self):
        self.assertEqual(self.planted({
            "Runtime/Logger.h": "#pragma once\n",
            "Http/HttpMgr.h": '#include "Runtime/Logger.h"\n',
            "Updater/UpdateModule.cpp": '#include "Http/HttpMgr.h"\n#include "Runtime/Logger.h"\n#include <curl/curl.h>\n',
            "ui/Control.cpp": '#include "Runtime/Logger.h"\n#include "stb_image.h"\n',
            "app/MainDlg.cpp": '#include "Updater/UpdateModule.cpp"\n#include "ui/Control.cpp"\n',
        }), [])

    def test_a_file_past_the_line_limit_is_found_and_one_at_it_passes(self):
        at_limit = "int x;\n" * MAX_LINES
        found = self.planted({"ui/Fine.cpp": at_limit, "ui/Grown.cpp": at_limit + "int y;",
                              "tests/ui/LongTest.cpp": at_limit * 2})
        self.assertEqual(found, [f"ui/Grown.cpp: {MAX_LINES + 1} lines (at most {MAX_LINES}); split it by concern"])


if __name__ == "__main__":
    unittest.main()
