#!/usr/bin/env python3
"""scripts/sign-release.sh reads the manifest as the installer reads it (lines
end at CR or LF among the rest), refuses what installers refuse, writes
Expires for --expires, and names the version in the package's signature.

Usage: sign_release_test.py KEYS_DIR (the test keys of scripts/setup.sh)."""

import datetime
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "sign-release.sh")
KEYS = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""
PACKAGE = bytes(range(256)) * 40
MD5 = hashlib.md5(PACKAGE).hexdigest()
LATER = (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=2)).strftime("%Y-%m-%dT%H:%M:%SZ")
GOOD = "[Install]\r\nUrl=http://h/ovinstaller.exe\r\nSize=%d\r\nMd5=%s\r\nVersion=1.2.3\r\nExpires=%s\r\n" % (
    len(PACKAGE), MD5, LATER)


WORK_DIRS = []


def tearDownModule():
    for work in WORK_DIRS:
        shutil.rmtree(work, ignore_errors=True)


def run(manifest, *args):
    """(exit code, stdout, stderr, the manifest's bytes afterwards, work dir)."""
    work = tempfile.mkdtemp(prefix="signrel")
    WORK_DIRS.append(work)
    with open(os.path.join(work, "m.txt"), "wb") as f:
        f.write(manifest if isinstance(manifest, bytes) else manifest.encode())
    with open(os.path.join(work, "pkg.exe"), "wb") as f:
        f.write(PACKAGE)
    p = subprocess.run(["bash", SCRIPT] + list(args) + ["m.txt", "pkg.exe"] +
                       ([] if "--check" in args else [os.path.join(KEYS, "test.key")]),
                       cwd=work, capture_output=True, text=True, timeout=60)
    with open(os.path.join(work, "m.txt"), "rb") as f:
        return p.returncode, p.stdout, p.stderr, f.read(), work


def values(out):
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


def trusted_comment(work, name):
    p = subprocess.run(["minisign", "-V", "-p", os.path.join(KEYS, "test.pub"), "-m", os.path.join(work, name)],
                       capture_output=True, text=True, timeout=60)
    assert p.returncode == 0, p.stderr
    return [line for line in p.stdout.splitlines() if line.startswith("Trusted comment: ")][0][17:]


class SignRelease(unittest.TestCase):
    def test_the_manifest_is_read_by_the_installers_rules(self):
        g = GOOD.replace("\r\n", "\n")
        cases = [
            # A CR alone ends a line: the first Size is 5, where a reader
            # splitting at LF saw one line "X=1\rSize=5".
            ("cr inside a line", g.replace("Size=", "X=1\rSize=5\nSize=", 1), {"Size": "5"}),
            ("cr only", g.replace("\n", "\r"), {"Size": str(len(PACKAGE)), "Version": "1.2.3"}),
            ("first section, first key", "[Other]\nVersion=9\n[ install ]\nVersion=1.2.3\nVersion=7\n[Install]\nUrl=x\n",
             {"Version": "1.2.3", "Url": ""}),
            ("blanks, quotes, bom", "\ufeff[Install]\n\t\x1aUrl = 'http://q/' \u3000\nmd5\t=\u00a0\"ab\"\n",
             {"Url": "http://q/", "Md5": "ab"}),
            ("a key without =, a bracket without end", "[Install]\nVersion\nVersion=2\n[Install\nExpires=x\n",
             {"Version": "", "Expires": "x"}),
        ]
        for name, manifest, expected in cases:
            with self.subTest(name):
                _, out, _, _, _ = run(manifest, "--check")
                got = values(out)
                for key, value in expected.items():
                    self.assertEqual(got.get(key), value, key)

    def test_what_installers_refuse_is_refused(self):
        past = "2000-01-01T00:00:00Z"
        cases = [
            ("version not dotted", GOOD.replace("1.2.3", "1.2.3-beta"), "Version must be"),
            ("no expiry", GOOD.replace("Expires=" + LATER + "\r\n", ""), "no Expires"),
            ("expired", GOOD.replace(LATER, past), "expired"),
            ("not a real date", GOOD.replace(LATER, "2031-02-30T00:00:00Z"), "Expires must be"),
            ("no md5", GOOD.replace("Md5=" + MD5, "Md5="), "no Md5"),
            ("wrong size", GOOD.replace("Size=%d" % len(PACKAGE), "Size=1"), "Size=1"),
        ]
        for name, manifest, message in cases:
            with self.subTest(name):
                rc, _, err, after, work = run(manifest)
                self.assertEqual(rc, 1, err)
                self.assertIn(message, err)
                self.assertEqual(after, manifest.encode(), "the manifest was changed")
                self.assertFalse(os.path.exists(os.path.join(work, "pkg.exe.minisig")), "it signed")

    def test_expires_is_written_and_the_version_signed(self):
        # CR-only lines, an old Expires in the section and one in another.
        manifest = GOOD.replace(LATER, "2000-01-01T00:00:00Z").replace("\r\n", "\r") + "[Other]\rExpires=x\r"
        before = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
        rc, _, err, after, work = run(manifest, "--expires", "30")
        self.assertEqual(rc, 0, err)
        lines = after.decode().split("\r\n")
        expires = [line for line in lines if line.startswith("Expires=2")]
        self.assertEqual(len(expires), 1, lines)
        self.assertEqual(lines[1], expires[0], "not the first key of [Install]")
        self.assertIn("Expires=x", lines)
        at = datetime.datetime.strptime(expires[0][8:], "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=datetime.timezone.utc)
        self.assertTrue(datetime.timedelta(days=30) <= at - before <= datetime.timedelta(days=30, minutes=1), at)
        self.assertEqual(trusted_comment(work, "pkg.exe"), "version=1.2.3 size=%d md5=%s" % (len(PACKAGE), MD5))
        self.assertEqual(trusted_comment(work, "m.txt"), "version=1.2.3 expires=" + expires[0][8:])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
