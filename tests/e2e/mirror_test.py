#!/usr/bin/env python3
"""Package mirrors end to end: the local installer under Wine with a signed
manifest naming three addresses of one package (Url, Url2, Url3: three paths
of the fault server), the first one failing in each way a CDN node fails.
The install goes on from the next address without a notice, resuming the
partial file there; when every address fails, one notice, the back-off, and
the next round from Url. A manifest with Url only is every other e2e test.
Usage: mirror_test.py BUILD_DIR [unittest arguments]; like e2e_test.py."""

import hashlib
import os
import shutil
import sys
import tempfile
import time
import unittest
import urllib.request

import e2e_test as e2e  # noqa: E402  (the shared helpers; reads BUILD from argv[1])
from e2e_test import BASE, BUILD, INSTALL_DIR, INSTALL_ROOT, INSTALL_BUTTON  # noqa: E402

NOTICE = "澄岳提示"
INSTALLER_TXT = os.path.join(INSTALL_DIR, "installer.txt")
PACKAGE_PATH = os.path.join(e2e.STAGING_DIR, "ovinstaller.exe")
MIRRORS = ["/m1/ovinstaller.exe", "/m2/ovinstaller.exe", "/m3/ovinstaller.exe"]
SIZE = 4 * 1024 * 1024


class MirrorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="ovmirror_")
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        cls.server = e2e.start_server(cls.work)
        cls.addClassCleanup(e2e.stop_server, cls.server)
        with open(os.path.join(BUILD, "standins", "ovinstaller.exe"), "rb") as f:
            head = f.read()
        cls.package = head + bytes((i * 13 + i // 3001) & 0xFF for i in range(SIZE - len(head)))
        cls.md5 = hashlib.md5(cls.package).hexdigest()
        bad = bytearray(cls.package)
        bad[SIZE // 2] ^= 0xFF
        e2e.post("/_put?name=package", cls.package)
        e2e.post("/_put?name=badpackage", bytes(bad))
        manifest = e2e.manifest_text(BASE + MIRRORS[0], cls.package).decode()
        manifest += "".join("Url%d=%s%s\r\n" % (n + 1, BASE, path) for n, path in enumerate(MIRRORS) if n)
        e2e.post("/_put?name=manifest", manifest.encode())

    def setUp(self):
        e2e.InstallerTest.clear_traces(self)
        shutil.rmtree(INSTALL_ROOT, ignore_errors=True)
        e2e.clear_staging()
        urllib.request.urlopen(BASE + "/_clear", timeout=5).read()
        e2e.post("/_route?path=/ovinstall.txt", b"mode=stored&name=manifest")
        for path in MIRRORS:
            self.serve(path, "blob=package")
        self.log = os.path.join(self.work, "support-%s.log" % self._testMethodName)
        self.run_ = None
        self.notices_seen = 0

    def tearDown(self):
        if self.run_:
            self.run_.kill()

    def serve(self, path, query):
        e2e.post("/_route?path=" + path, query.encode())

    def start(self):
        self.run_ = e2e.Installer(os.path.join(BUILD, "local", "OvSetup.exe"), 1,
                                  {"OV_LOG_FILE": "Z:" + self.log.replace("/", "\\")})
        wid = e2e.find_window("安装澄岳")
        self.assertIsNotNone(wid, "the install window did not appear")
        time.sleep(1.0)
        e2e.click(wid, INSTALL_BUTTON)

    def support_log(self):
        if not os.path.exists(self.log):
            return ""
        with open(self.log, "rb") as f:
            return f.read().decode("utf-16-le", errors="replace")

    def requests(self, path):
        """The Range header ("-": none) of each request for `path`, in order."""
        return [r[2] for r in e2e.server_log() if r[1] == path]

    def wait_for(self, seen, what, timeout):
        end = time.time() + timeout
        while time.time() < end:
            self.notices_seen = max(self.notices_seen,
                                    len(e2e.xdo("search", "--onlyvisible", "--name", "^%s$" % NOTICE,
                                                check=False).split()))
            if seen():
                return
            self.assertIsNone(self.run_.proc.poll(), "the installer ended before " + what)
            time.sleep(0.2)
        self.fail("no %s within %d s; log:\n%s" % (what, timeout, self.support_log()[-3000:]))

    def installs_from(self, fault, timeout=90):
        """Starts the install and waits for the package to run: byte for byte
        the one served, after one switch that the support log names, and
        without a notice."""
        self.start()
        self.wait_for(lambda: os.path.exists(INSTALLER_TXT), "the package ran", timeout)
        with open(PACKAGE_PATH, "rb") as f:
            self.assertEqual(f.read(), self.package, "the package that ran is not the one served")
        self.assertEqual(self.notices_seen, 0, "a notice, though another address had the package")
        self.assertIn("package address switch: %s%s -> %s%s (%s" % (BASE, MIRRORS[0], BASE, MIRRORS[1], fault),
                      self.support_log())
        self.assertEqual(self.requests(MIRRORS[2]), [], "the third address was asked")
        return self.requests(MIRRORS[0]), self.requests(MIRRORS[1])

    # -- cases -------------------------------------------------------------------
    def test_a_server_error_at_the_first_address(self):
        self.serve(MIRRORS[0], "mode=status&code=500")
        first, second = self.installs_from("server error, 4:500")
        self.assertEqual((first, second), (["-"], ["-"]))

    def test_a_drop_mid_file_resumes_the_partial_file_at_the_next_address(self):
        self.serve(MIRRORS[0], "blob=package&mode=drop&after=700000")
        first, second = self.installs_from("connection error")
        # Its own retries resume at the same address; then the next one is
        # asked for exactly the rest of what is on disk.
        self.assertEqual(len(first), 3, first)
        self.assertTrue(all(r.startswith("bytes=") for r in first[1:] + second[:1]), (first, second))
        resumed = int(second[0][len("bytes="):-1])
        self.assertGreater(resumed, int(first[-1][len("bytes="):-1]), (first, second))
        self.assertEqual(len(second), 1, "the rest came in one answer")

    def test_a_corrupt_copy_is_dropped_and_the_next_address_starts_from_zero(self):
        self.serve(MIRRORS[0], "blob=badpackage")
        self.serve(MIRRORS[0] + ".minisig", "blob=package")  # the signature is intact; the copy is not
        first, second = self.installs_from("copy failed its check, 3:3002")
        self.assertEqual((first, second), (["-"], ["-"]))

    def test_every_address_failing_one_notice_the_back_off_then_url_again(self):
        self.serve(MIRRORS[0], "mode=status&code=500")
        self.serve(MIRRORS[1], "mode=status&code=404")
        self.serve(MIRRORS[2], "blob=package&mode=drop&after=0")
        self.start()
        self.wait_for(lambda: self.notices_seen, "the notice", 60)
        noticed = time.time()
        self.assertEqual([len(self.requests(p)) for p in MIRRORS], [1, 1, 3], "one round, each address once")
        self.assertIn("every package address failed this round", self.support_log())
        self.wait_for(lambda: len(self.requests(MIRRORS[0])) == 2, "a second round", 30)
        self.assertGreater(time.time() - noticed, 3.5, "the next round came without the back-off")
        self.assertIn("package address for the new round: %s%s -> %s%s" % (BASE, MIRRORS[2], BASE, MIRRORS[0]),
                      self.support_log())
        # Still failing, still one notice; the first address heals and the
        # round after installs from it with no click.
        self.serve(MIRRORS[0], "blob=package")
        self.wait_for(lambda: os.path.exists(INSTALLER_TXT), "the package ran", 90)
        with open(PACKAGE_PATH, "rb") as f:
            self.assertEqual(hashlib.md5(f.read()).hexdigest(), self.md5)
        self.assertEqual(self.notices_seen, 1, "more than one notice open at once")
        # Left after two failed rounds, then all taken back: Url served it.
        self.assertEqual(self.requests(MIRRORS[0])[-1], "-")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
