#!/usr/bin/env python3
"""scripts/sign-release.sh reads the manifest as the installer reads it (a CR
ends a line too), refuses what installers refuse, writes Expires for
--expires and names the version in the package's signature.
Usage: sign_release_test.py KEYS_DIR (the test keys of scripts/setup.sh)."""

import datetime
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "sign-release.sh")
KEYS = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""
PACKAGE = bytes(range(256)) * 40
MD5 = hashlib.md5(PACKAGE).hexdigest()
LATER = (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=2)).strftime("%Y-%m-%dT%H:%M:%SZ")
GOOD = "[Install]\r\nUrl=http://h/p.exe\r\nSize=%d\r\nMd5=%s\r\nVersion=1.2.3\r\nExpires=%s\r\n" % (
    len(PACKAGE), MD5, LATER)


class SignRelease(unittest.TestCase):
    def run_script(self, manifest, *args, check=False):
        """(exit code, stderr, the manifest afterwards, the work dir)."""
        work = tempfile.TemporaryDirectory(prefix="signrel")
        self.addCleanup(work.cleanup)
        for name, data in (("m.txt", manifest.encode()), ("p.exe", PACKAGE)):
            with open(os.path.join(work.name, name), "wb") as f:
                f.write(data)
        tail = ["--check", "m.txt", "p.exe"] if check else ["m.txt", "p.exe", os.path.join(KEYS, "test.key")]
        p = subprocess.run(["bash", SCRIPT] + list(args) + tail, cwd=work.name, capture_output=True, text=True,
                           timeout=60)
        with open(os.path.join(work.name, "m.txt"), "rb") as f:
            return p.returncode, p.stderr, f.read().decode(), work.name

    def test_what_installers_refuse_is_refused(self):
        cases = [
            # A CR alone ends a line: the first Size is 5, where a reader that
            # split at LF saw one line "X=1\rSize=5".
            ("cr inside a line", GOOD.replace("Size=", "X=1\rSize=5\r\nSize=", 1), "Size=5"),
            ("first section only", GOOD.replace("Version=1.2.3\r\n", "[Install]\r\nVersion=1.2.3\r\n"), "Version must"),
            ("version not dotted", GOOD.replace("1.2.3", "1.2.3-beta"), "Version must be"),
            ("no expiry", GOOD.replace("Expires=" + LATER + "\r\n", ""), "no Expires"),
            ("expired", GOOD.replace(LATER, "2000-01-01T00:00:00Z"), "expired"),
            ("not a real date", GOOD.replace(LATER, "2031-02-30T00:00:00Z"), "Expires must be"),
            ("mirror not http", GOOD + "Url2=http://m/p.exe\r\nUrl3=file:///p.exe\r\n", "Url3 must be http"),
            ("mirror after a gap", GOOD + "Url3=http://m/p.exe\r\n", "Url3 follows a missing Url2"),
        ]
        for name, manifest, message in cases:
            with self.subTest(name):
                rc, err, after, work = self.run_script(manifest)
                self.assertEqual((rc, after), (1, manifest), err)
                self.assertIn(message, err)
                self.assertFalse(os.path.exists(os.path.join(work, "p.exe.minisig")), "it signed")
                rc, err, _, _ = self.run_script(manifest, check=True)
                self.assertEqual(rc, 1, "--check passed it")
                self.assertIn(message, err)

    def test_expires_is_written_and_the_version_signed(self):
        # CR-only lines (blanks and quotes as the installer drops them), an old
        # Expires in the section and one in another.
        manifest = GOOD.replace(LATER, "2000-01-01T00:00:00Z").replace("Url=", " url = '").replace(
            ".exe", ".exe' \u3000").replace("\r\n", "\r") + "[Other]\rExpires=x\r"
        rc, err, after, work = self.run_script(manifest, "--expires", "30")
        self.assertEqual(rc, 0, err)
        lines = after.split("\r\n")
        self.assertEqual([i for i, line in enumerate(lines) if line.startswith("Expires=2")], [1], lines)
        self.assertIn("Expires=x", lines)
        at = datetime.datetime.strptime(lines[1][8:], "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=datetime.timezone.utc)
        left = at - datetime.datetime.now(datetime.timezone.utc)
        self.assertTrue(datetime.timedelta(days=29, hours=23) < left <= datetime.timedelta(days=30), at)
        for name, comment in (("p.exe", "version=1.2.3 size=%d md5=%s" % (len(PACKAGE), MD5)),
                              ("m.txt", "version=1.2.3 expires=" + lines[1][8:])):
            p = subprocess.run(["minisign", "-V", "-p", os.path.join(KEYS, "test.pub"), "-m", name], cwd=work,
                               capture_output=True, text=True, timeout=60)
            self.assertIn("Trusted comment: " + comment + "\n", p.stdout, p.stderr)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
