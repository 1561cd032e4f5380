#!/usr/bin/env python3
"""End-to-end tests of publisher signatures: the real local installer
(OvSetup.exe, built with the test publisher's key) under Wine, attacked the
ways an attacker on the network path or on the machine would: a manifest
signed by somebody else naming another program, a substituted package, a
missing signature, a second process swapping the package between its check
and its start, an unsigned package planted beside the program, and signed
releases served again: one below the installer's version floor, a manifest
past its Expires. Each case
ends with the mark of the attacker's program ("C:\\substituted.txt") absent.
The unsigned local build (OV_ALLOW_UNSIGNED) still installs without any
signature.

Usage: signature_test.py BUILD_DIR [unittest arguments]; needs DISPLAY and
WINEPREFIX, like e2e_test.py.
"""

import os
import shutil
import subprocess
import sys
import unittest

import harness as e2e
from harness import BUILD, DRIVE_C, INSTALL_DIR, INSTALL_ROOT, BOX_OK_BUTTON, NOTICE, STANDINS

MARKER = os.path.join(DRIVE_C, "substituted.txt")
INSTALLER_TXT = os.path.join(INSTALL_DIR, "installer.txt")


class SignatureTest(e2e.InstallerCase):
    WORK_PREFIX = "ovsig_"
    PADDING = b"\x55" * 2000000

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # The attacker's program, padded to the package's size (a program
        # ignores bytes after its end), so that only a signature can tell.
        with open(os.path.join(STANDINS, "attacker.exe"), "rb") as f:
            cls.attacker = f.read()
        cls.attacker += b"\xAA" * (len(cls.package) - len(cls.attacker))
        e2e.post("/_put?name=attacker", cls.attacker)
        cls.put_manifest("manifest", cls.package, "/ovinstaller.exe")
        cls.put_manifest("evilmanifest", cls.attacker, "/evil.exe")
        e2e.post("/_route?path=/evil.exe", b"blob=attacker")

    @staticmethod
    def put_manifest(name, package, path, **fields):
        e2e.post("/_put?name=" + name, e2e.manifest_text(e2e.BASE + path, package, **fields))

    def setUp(self):
        super().setUp()
        if os.path.exists(MARKER):
            os.remove(MARKER)
        for path in ("/ovinstall.txt.minisig", "/ovinstaller.exe.minisig"):
            self.route(path, "")
        self.route("/ovinstall.txt", "mode=stored&name=manifest")
        self.serve_package("blob=package")

    def assert_refused_and_responsive(self, run):
        """The failure notice, nothing of the attacker's ran, and the window
        still answers: its notice closes with its button."""
        box = e2e.find_window(NOTICE, timeout=40)
        self.assertIsNotNone(box, "the failure notice did not appear")
        self.assertFalse(os.path.exists(MARKER), "the attacker's program ran")
        self.assertFalse(os.path.exists(INSTALLER_TXT), "a package ran")
        self.assertIsNone(run.proc.poll(), "the installer ended")
        e2e.click(box, BOX_OK_BUTTON)
        self.assertTrue(e2e.wait_gone(NOTICE, timeout=10), "the window does not answer")

    def assert_honest_install(self, run, timeout=120):
        code = run.wait(timeout)
        self.assertFalse(os.path.exists(MARKER), "the attacker's program ran")
        self.assertEqual(code, 0)
        self.assertTrue(os.path.exists(INSTALLER_TXT), "the publisher's package did not run")
        self.assertEqual(len(e2e.utf8_lines(INSTALLER_TXT)), 1)

    # -- cases -------------------------------------------------------------------
    def test_a_a_manifest_signed_by_another_key_is_refused(self):
        # Another publisher's key signed a manifest naming its own program,
        # with that program's own MD5.
        self.route("/ovinstall.txt", "mode=stored&name=evilmanifest&sig=other")
        run = self.install()
        self.assert_refused_and_responsive(run)
        self.assertNotIn("/evil.exe", self.requested(), "an unverified manifest was followed")
        run.kill()
        # Healed: the honest release installs.
        self.route("/ovinstall.txt", "mode=stored&name=manifest")
        self.assert_honest_install(self.install())

    def test_b_a_substituted_package_is_refused_and_the_retry_installs_the_right_one(self):
        # The right manifest and the right signature, but other bytes where
        # the package should be (the signature is checked before the MD5).
        self.route("/ovinstaller.exe", "blob=attacker")
        self.route("/ovinstaller.exe.minisig", "blob=package")
        run = self.install()
        self.assert_refused_and_responsive(run)
        # Healed: the window's 5-second retry fetches the right package.
        self.route("/ovinstaller.exe", "blob=package")
        self.assert_honest_install(run)

    def test_c_a_missing_signature_is_refused(self):
        self.route("/ovinstall.txt", "mode=stored&name=evilmanifest&sig=none")
        run = self.install()
        self.assert_refused_and_responsive(run)
        self.assertIn("/ovinstall.txt.minisig", self.requested())
        self.assertNotIn("/evil.exe", self.requested())
        run.kill()
        self.route("/ovinstall.txt", "mode=stored&name=manifest")
        self.assert_honest_install(self.install())

    def test_d_a_second_process_cannot_swap_the_package_between_its_check_and_its_start(self):
        log = os.path.join(self.work, "swapper.log")
        for leftover in (log, log + ".stop"):
            if os.path.exists(leftover):
                os.remove(leftover)
        evil = os.path.join(STANDINS, "attacker.exe")
        win = lambda p: "Z:" + p.replace("/", "\\")  # noqa: E731
        # A slow package, so the swapper is already spinning when it lands.
        self.route("/ovinstaller.exe", "blob=package&mode=trickle&chunk=262144&delay=50")
        swapper = subprocess.Popen(["wine", os.path.join(STANDINS, "package_swapper.exe"), e2e.WIN_STAGING_DIR,
                                    win(evil), win(log), "90", e2e.WIN_INSTALL_DIR], env=e2e.WINE_ENV,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            run = self.install()
            self.assert_honest_install(run)
            with open(log + ".stop", "w"):
                pass
            swapper.wait(timeout=60)
        finally:
            if swapper.poll() is None:
                swapper.kill()
        with open(log) as f:
            report = dict(line.strip().split("=", 1) for line in f if "=" in line and "success" not in line)
        with open(log) as f:
            success = [line.strip() for line in f if line.startswith("success=")]
        self.assertGreater(int(report["attempts_before_start"]), 0,
                           "the swapper never tried while the checked package waited to start")
        for line in success:
            self.assertTrue(line.endswith("started=1"), "the package was changed before it started: " + line)

    def test_e_an_unsigned_package_beside_the_program_is_not_run(self):
        local = os.path.join(self.work, "planted")
        shutil.rmtree(local, ignore_errors=True)
        os.makedirs(local)
        shutil.copy(os.path.join(BUILD, "local", "OvSetup.exe"), local)
        shutil.copy(os.path.join(STANDINS, "attacker.exe"), os.path.join(local, "ovinstaller.exe"))
        open(os.path.join(local, "ovmain.dll"), "wb").close()
        # An unsigned program, one another key signed, and the marker alone.
        for signature in (None, "other", "marker alone"):
            with self.subTest(signature=signature or "none"):
                sig = os.path.join(local, "ovinstaller.exe.minisig")
                if os.path.exists(sig):
                    os.remove(sig)
                if signature == "other":
                    e2e.sign_file(os.path.join(local, "ovinstaller.exe"), signature)
                elif signature:
                    os.remove(os.path.join(local, "ovinstaller.exe"))
                e2e.clear_traces()
                shutil.rmtree(INSTALL_ROOT, ignore_errors=True)
                e2e.clear_staging()
                e2e.get("/_clear")
                # Fetched and installed as if nothing were shipped.
                self.assert_honest_install(self.install(os.path.join(local, "OvSetup.exe")))
                self.assertIn("/ovinstaller.exe", self.requested())
                self.assertEqual(os.path.exists(os.path.join(local, "ovinstaller.exe")), not signature or signature == "other",
                                 "the shipped file is kept, and nothing is written beside the program")
                self.assertEqual(e2e.utf8_lines(os.path.join(INSTALL_DIR, "installer-cwd.txt")), [e2e.WIN_STAGING_DIR])

    def test_g_an_old_release_and_an_expired_manifest_install_nothing_then_the_honest_one_does(self):
        # Both signed by the publisher, as any release once was.
        below = "0.9"
        self.assertLess(tuple(map(int, below.split("."))), tuple(map(int, e2e.FLOOR.split("."))),
                        "the dev tree's installers need a version floor above %s (scripts/setup.sh)" % below)
        self.put_manifest("old", self.package, "/ovinstaller.exe", version=below)
        self.put_manifest("expired", self.package, "/ovinstaller.exe", expires=e2e.utc_after(-3600))
        for name in ("old", "expired"):
            with self.subTest(name):
                e2e.get("/_clear")
                self.route("/ovinstall.txt", "mode=stored&name=" + name)
                run = self.install()
                self.assert_refused_and_responsive(run)
                self.assertIn("/ovinstall.txt.minisig", self.requested(), "its signature was not checked")
                self.assertNotIn("/ovinstaller.exe", self.requested(), "a refused release was followed")
                self.assertFalse(os.path.exists(os.path.join(INSTALL_DIR, "ovinstall.ini")), "it was kept")
                if name == "old":
                    run.kill()
        # The publisher's current release is served: the window's own retry
        # installs it.
        self.route("/ovinstall.txt", "mode=stored&name=manifest")
        self.assert_honest_install(run)

    def test_f_the_unsigned_build_installs_without_signatures(self):
        self.route("/ovinstall.txt", "mode=stored&name=manifest&sig=none")
        self.route("/ovinstaller.exe.minisig", "sig=none")
        self.assert_honest_install(self.install(os.path.join(BUILD, "local-unsigned", "OvSetup.exe")))
        self.assertFalse([p for p in self.requested() if p.endswith(".minisig")], "it asked for a signature")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
