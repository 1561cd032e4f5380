#!/usr/bin/env python3
"""The set-up's source entries come from the machine's own apt sources, in
both formats apt reads, and their absence stops the set-up with a message."""

import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "deb-src-entries.py")


def run(files):
    """Runs the script on a root holding `files` (path -> text); (exit code, out, err)."""
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "etc", "apt", "sources.list.d"))
        for path, text in files.items():
            with open(os.path.join(root, "etc", "apt", path), "w") as f:
                f.write(textwrap.dedent(text))
        p = subprocess.run([sys.executable, SCRIPT, "--root", root], capture_output=True, text=True)
        return p.returncode, p.stdout, p.stderr


class DebSrcEntries(unittest.TestCase):
    def test_deb822_entries_keep_their_archive_suites_and_key(self):
        rc, out, _ = run({
            "sources.list.d/debian.sources": """\
                Types: deb
                # a comment inside the stanza
                URIs: http://mirror.example/debian
                Suites: bookworm bookworm-updates
                Components: main contrib
                Signed-By: /usr/share/keyrings/archive.gpg

                Types: deb
                URIs: http://mirror.example/off
                Suites: bookworm
                Components: main
                Enabled: no
                """,
            "sources.list.d/vendor.sources": """\
                Types: deb
                URIs: http://vendor.example/apt
                Suites: stable/
                Signed-By:
                 -----BEGIN PGP PUBLIC KEY BLOCK-----
                 .
                 abc
                 -----END PGP PUBLIC KEY BLOCK-----
                """,
            # apt reads only *.list and *.sources: neither may this.
            "sources.list.d/old.sources.disabled": "Types: deb\nURIs: http://old.example\nSuites: x\nComponents: main\n",
        })
        self.assertEqual(0, rc)
        stanzas = out.strip().split("\n\n")
        self.assertEqual(2, len(stanzas), out)
        self.assertEqual("Types: deb-src\nURIs: http://mirror.example/debian\nSuites: bookworm bookworm-updates\n"
                         "Components: main contrib\nSigned-By: /usr/share/keyrings/archive.gpg", stanzas[0])
        self.assertIn("Suites: stable/\nSigned-By: \n -----BEGIN PGP PUBLIC KEY BLOCK-----\n .\n abc\n", stanzas[1])
        self.assertNotIn("Components", stanzas[1])
        self.assertNotIn("old.example", out)

    def test_one_line_entries_with_options_and_no_duplicates(self):
        rc, out, _ = run({
            "sources.list": """\
                # deb http://commented.example/debian bookworm main
                deb [arch=amd64 signed-by=/etc/apt/keyrings/k.gpg] http://mirror.example/debian bookworm main
                deb-src http://mirror.example/debian bookworm main
                deb cdrom:[Debian 12]/ bookworm main
                """,
            "sources.list.d/security.list": "deb http://mirror.example/security bookworm-security main # trailing\n",
        })
        self.assertEqual(0, rc)
        self.assertEqual(
            "Types: deb-src\nURIs: http://mirror.example/debian\nSuites: bookworm\nComponents: main\n"
            "Signed-By: /etc/apt/keyrings/k.gpg\n\n"
            "Types: deb-src\nURIs: http://mirror.example/debian\nSuites: bookworm\nComponents: main\n\n"
            "Types: deb-src\nURIs: http://mirror.example/security\nSuites: bookworm-security\nComponents: main\n",
            out)

    def test_no_sources_stops_the_set_up_with_a_message(self):
        for files in ({}, {"sources.list": "# nothing here\n"},
                      {"sources.list.d/only.sources": "Types: deb\nURIs: http://x.example\nSuites: a\nEnabled: no\n"}):
            rc, out, err = run(files)
            self.assertEqual(1, rc)
            self.assertEqual("", out)
            self.assertIn("no apt sources found", err)


if __name__ == "__main__":
    unittest.main()
