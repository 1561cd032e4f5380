#!/usr/bin/env python3
"""End-to-end tests of the installer: the real OvSetup.exe (its local build,
whose endpoints point at 127.0.0.1) under Wine on the Xvfb display, driven by
real mouse clicks and keys through xdotool, against the fault server.

Usage: e2e_test.py BUILD_DIR [unittest arguments]
Run by CTest inside scripts/test.sh's Xvfb display; needs DISPLAY and WINEPREFIX.
"""
import os
import shutil
import subprocess
import sys
import time
import unittest

from harness import (ADMINS_INI_SDDL, AGREE_OPTION, BOX_CLOSE_BUTTON, BOX_OK_BUTTON, BUILD, CLOSE_BUTTON,
                     CUSTOM_LINK, DIR_EDIT, DRIVE_C, INSTALL_BUTTON, INSTALL_DIR, INSTALL_NOW_BUTTON, STAGING_DIR,
                     WIN_INSTALL_DIR, WIN_STAGING_DIR, WINE_ENV, Installer, InstallerCase, clear_traces, click,
                     find_window, get, NOTICE, scaled, server_log, set_display_dpi, utf8_lines, wait_gone,
                     window_origin, window_size, xdo)


class InstallerTest(InstallerCase):
    PADDING = b"\x55" * 6000000  # a download of a few progress ticks

    def setUp(self):
        super().setUp()
        self.serve_manifest(md5=self.md5)
        self.serve_package("blob=package&mode=trickle&chunk=1048576&delay=100")

    # -- cases -------------------------------------------------------------------
    def test_full_flow_downloads_runs_the_package_and_hands_over(self):
        run = self.start(launch_number=7)
        wid = self.main_window()
        # By now the window has painted and its channels have started.
        self.assertEqual(server_log(), [], "nothing reaches the network before the click")
        click(wid, INSTALL_BUTTON)
        self.assertEqual(run.wait(120), 0)

        got = [r[1] for r in server_log()]
        self.assertEqual(got[0], "/ovinstall.txt")
        self.assertIn("/ovinstaller.exe", got)
        self.assert_ran_from_staging()
        launched = utf8_lines(os.path.join(INSTALL_DIR, "launched.txt"))
        self.assertEqual(launched, ['%s\\OrvelLauncher.exe -i "7" -d' % WIN_INSTALL_DIR])
        self.assertEqual(utf8_lines(os.path.join(INSTALL_DIR, "launched-token.txt")), ["administrators=deny-only"])
        self.assertEqual(os.listdir(STAGING_DIR), ["ovinstall.ini"], "the package is deleted after the hand-off")

    def assert_ran_from_staging(self):
        """The package started from the staging folder, in it, into the
        install directory, where the installer itself put nothing."""
        utf8_lines(os.path.join(INSTALL_DIR, "launched.txt"))  # the launcher's records are there
        self.assertEqual(utf8_lines(os.path.join(INSTALL_DIR, "installer.txt")),
                         ["%s\\ovinstaller.exe /S /unpack=%s /launch=off" % (WIN_STAGING_DIR, WIN_INSTALL_DIR)])
        self.assertEqual(utf8_lines(os.path.join(INSTALL_DIR, "installer-cwd.txt")), [WIN_STAGING_DIR])
        self.assertEqual(sorted(os.listdir(INSTALL_DIR)), ["OrvelLauncher.exe", "installer-cwd.txt", "installer.txt",
                                                           "launched-token.txt", "launched.txt"])

    def test_at_every_display_scale_the_window_scales_and_its_drawn_button_installs(self):
        try:
            for dpi in (120, 144, 192, 96):
                with self.subTest(dpi=dpi):
                    for run in self.runs:
                        run.kill()
                    self.setUp()
                    set_display_dpi(dpi)
                    run = self.start(launch_number=3)
                    wid = self.main_window()
                    w, h = window_size(wid)
                    self.assertLessEqual(abs(w - 540 * dpi / 96), 1, (w, h))
                    self.assertLessEqual(abs(h - 355 * dpi / 96), 1, (w, h))
                    click(wid, scaled(INSTALL_BUTTON, dpi))
                    self.assertEqual(run.wait(120), 0, "installed and handed over")
        finally:
            set_display_dpi(96)

    def test_a_click_the_moment_the_window_shows_installs(self):
        # The HTTP channels start after the first paint; a click can be
        # handled before that (input goes ahead of painting), and the install
        # must not depend on which comes first. One xdotool command finds the
        # window and clicks into it at once.
        run = self.start(launch_number=5)
        xdo("search", "--sync", "--onlyvisible", "--name", "^安装澄岳$",
            "mousemove", "--window", "%1", INSTALL_BUTTON[0], INSTALL_BUTTON[1], "click", "1")
        self.assertEqual(run.wait(120), 0)
        self.assertIn("/ovinstaller.exe", [r[1] for r in server_log()])
        self.assertEqual(utf8_lines(os.path.join(INSTALL_DIR, "launched.txt")),
                         ['%s\\OrvelLauncher.exe -i "5" -d' % WIN_INSTALL_DIR])

    def test_launch_number_zero_starts_the_launcher_without_arguments(self):
        self.serve_package("blob=package")
        run = self.install()
        self.assertEqual(run.wait(120), 0)
        launched = utf8_lines(os.path.join(INSTALL_DIR, "launched.txt"))
        self.assertEqual(len(launched), 1)
        self.assertNotIn("-i", launched[0])

    def test_an_installed_launcher_is_started_at_once(self):
        target = os.path.join(self.work, "installed")
        os.makedirs(target, exist_ok=True)
        shutil.copy(os.path.join(BUILD, "standins", "OrvelLauncher.exe"), target)
        win_target = "Z:" + target.replace("/", "\\")
        for source in ("ini", "registry"):
            with self.subTest(source=source):
                clear_traces()
                log = os.path.join(target, "launched.txt")
                if os.path.exists(log):
                    os.remove(log)
                if source == "ini":
                    with open(os.path.join(DRIVE_C, "ProgramData", "OrvelLaucher.ini"), "w", encoding="utf-16") as f:
                        f.write("[Orvelnet-Launcher]\r\nInstallPath=%s\\OrvelLauncher.exe\r\n" % win_target)
                else:
                    subprocess.run(["wine", "reg", "add", "HKLM\\SOFTWARE\\OrvelLauncher", "/v", "InstPath", "/t",
                                    "REG_SZ", "/d", win_target, "/f", "/reg:32"], env=WINE_ENV, check=True,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
                # Wine keeps no owners: the local build's seam gives the ini the
                # descriptor an elevated installer's file has on Windows.
                run = self.start(launch_number=0, env={"OV_TEST_LAUNCHER_INI_SDDL": ADMINS_INI_SDDL})
                self.assertEqual(run.wait(60), 0)
                self.assertEqual(utf8_lines(log), ['%s\\OrvelLauncher.exe -i "0" -d' % win_target])
                self.assertEqual(server_log(), [], "no network when a launcher is installed")

    def test_a_package_beside_the_program_needs_no_network_and_is_kept(self):
        run = self.install(exe=self.local_copy(), launch_number=3)
        self.assertEqual(run.wait(60), 0)
        self.assertEqual(server_log(), [])
        self.assert_ran_from_staging()  # the copy; the shipped file stays
        self.assertEqual(utf8_lines(os.path.join(INSTALL_DIR, "launched.txt")),
                         ['%s\\OrvelLauncher.exe -i "3" -d' % WIN_INSTALL_DIR])

    def test_a_second_installer_shows_the_first_and_ends_touching_nothing(self):
        self.serve_package("blob=package")
        first = self.start(launch_number=4)
        wid = self.main_window()
        second = self.start(launch_number=4)
        self.assertEqual(second.wait(30), 0, "the second installer did not end by itself with 0")
        self.assertFalse(os.path.exists(STAGING_DIR) or server_log() or first.proc.poll() is not None)
        click(wid, INSTALL_BUTTON)
        self.assertEqual(first.wait(120), 0)

    def test_without_the_agreement_a_warning_and_no_download(self):
        run = self.start()
        wid = self.main_window()
        click(wid, AGREE_OPTION)  # clears the agreement the skin selects
        time.sleep(0.5)
        click(wid, INSTALL_BUTTON)
        box = find_window("提示", timeout=10)
        self.assertIsNotNone(box, "the agreement warning did not appear")
        click(box, BOX_OK_BUTTON)
        self.assertTrue(wait_gone("提示", timeout=6), "the warning box did not close with 确定")
        self.assertEqual(server_log(), [])
        self.assertIsNone(run.proc.poll(), "the installer keeps running")

    def test_close_asks_first_and_escape_confirms(self):
        run = self.start()
        wid = self.main_window()
        click(wid, CLOSE_BUTTON)
        box = find_window("退出安装", timeout=10)
        self.assertIsNotNone(box, "the exit box did not appear")
        click(wid, CLOSE_BUTTON)  # a second click while it is open does nothing
        time.sleep(0.5)
        self.assertIsNone(run.proc.poll())
        xdo("windowactivate", "--sync", box, check=False)
        xdo("key", "Escape")
        self.assertEqual(run.wait(20), 0)

    def test_the_install_now_button_follows_the_free_space_of_the_typed_drive(self):
        # Two small volumes as Wine drives: 50 MB free, and exactly 120 MB.
        drives = {}
        try:
            for letter, size in (("e", "50m"), ("f", "120m")):
                mnt = os.path.join(self.work, "drive_" + letter)
                os.makedirs(mnt, exist_ok=True)
                subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", mnt], check=True, timeout=30)
                link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", letter + ":")
                if os.path.lexists(link):
                    os.remove(link)
                os.symlink(mnt, link)
                drives[letter] = (mnt, link)
            for letter, enabled in (("e", False), ("f", True)):
                with self.subTest(drive=letter):
                    get("/_clear")
                    run = self.start()
                    wid = self.main_window()
                    click(wid, CUSTOM_LINK)
                    time.sleep(1)
                    click(wid, DIR_EDIT)
                    time.sleep(0.5)
                    xdo("key", "ctrl+a")
                    xdo("type", "--delay", "50", "%s:\\game" % letter.upper())
                    time.sleep(1)
                    click(wid, INSTALL_NOW_BUTTON)
                    time.sleep(3)
                    requested = [r[1] for r in server_log()]
                    if enabled:
                        self.assertIn("/ovinstall.txt", requested, "exactly 120 MB free enables the button")
                    else:
                        self.assertEqual(requested, [], "50 MB free keeps the button disabled")
                    run.kill()
        finally:
            for mnt, link in drives.values():
                if os.path.lexists(link):
                    os.remove(link)
                subprocess.run(["umount", mnt], timeout=30)

    def test_the_exit_box_close_button_cancels(self):
        run = self.start()
        wid = self.main_window()
        click(wid, CLOSE_BUTTON)
        box = find_window("退出安装", timeout=10)
        self.assertIsNotNone(box, "the exit box did not appear")
        click(box, BOX_CLOSE_BUTTON)
        self.assertTrue(wait_gone("退出安装", timeout=6), "the exit box did not close")
        self.assertIsNone(run.proc.poll(), "cancelling keeps the installer running")

    def test_a_failed_download_retries_every_five_seconds_and_tells_once(self):
        self.serve_package("mode=status&code=500")
        run = self.install()
        time.sleep(13)
        times = [r for r in server_log() if r[1] == "/ovinstaller.exe"]
        self.assertGreaterEqual(len(times), 3, "a first try and two retries in 13 s")
        self.assertLessEqual(len(times), 4)
        notices = self.notices()
        self.assertEqual(len(notices), 1, "no progress report came in between: one notice only")
        self.assertIsNone(run.proc.poll())

    # -- failures a user can live with -------------------------------------------
    def test_a_manifest_that_fails_for_a_while_installs_without_any_action(self):
        # The primary endpoint answers 503 three times, then the manifest; the
        # secondary one is not there at all.
        self.route("/ovinstall.txt", "mode=status&code=503&times=3&blob=manifest")
        run = self.install()
        most = 0
        end = time.time() + 90
        while run.proc.poll() is None and time.time() < end:
            most = max(most, len(self.notices()))
            time.sleep(0.3)
        self.assertEqual(run.wait(5), 0, "the run did not end by itself")
        self.assertEqual(most, 1, "one failure notice, not one per attempt")
        manifests = [r for r in server_log() if r[1] == "/ovinstall.txt"]
        self.assertEqual(len(manifests), 4)
        self.assertEqual(len(utf8_lines(os.path.join(INSTALL_DIR, "launched.txt"))), 1)

    def test_a_package_that_cannot_start_is_named_and_ends_with_exit_code_two(self):
        run = self.install(exe=self.local_copy(b"not a program"))
        box = find_window(NOTICE, timeout=20)
        self.assertIsNotNone(box, "no notice that the package could not start")
        self.assertIsNone(run.proc.poll(), "the run waits for the user to read the notice")
        click(box, BOX_OK_BUTTON)
        self.assertEqual(run.wait(20), 2)
        self.assertFalse(os.path.exists(os.path.join(INSTALL_DIR, "launched.txt")), "no launcher without a package")

    def region(self, wid, x, y, w, h):
        """Raw RGB bytes of a rectangle of the window, as the screen shows it."""
        ox, oy = window_origin(wid)
        return subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, ox + x, oy + y),
                               "rgb:-"], capture_output=True, check=True, timeout=60).stdout

    def test_while_the_package_runs_the_window_paints_and_close_gets_a_notice(self):
        exe = self.local_copy()
        run = Installer(exe, 5, extra_env={"OV_STANDIN_INSTALL_MS": "20000"})
        self.runs.append(run)
        wid = self.main_window()
        click(wid, INSTALL_BUTTON)
        time.sleep(13)  # the ten-second phase is over: the window waits for the package
        self.assertFalse(os.path.exists(os.path.join(INSTALL_DIR, "installer.txt")), "the package ended too soon")
        # Painting: the minimise button shows its hover image under the mouse.
        xdo("mousemove", window_origin(wid)[0] + 300, window_origin(wid)[1] + 150)
        time.sleep(0.5)
        before = self.region(wid, 485, 1, 25, 23)
        xdo("mousemove", window_origin(wid)[0] + 497, window_origin(wid)[1] + 12)
        time.sleep(1.0)
        after = self.region(wid, 485, 1, 25, 23)
        self.assertTrue(before != after, "the window did not repaint while the package ran")
        # A close request is answered, and does not end the run.
        click(wid, CLOSE_BUTTON)
        self.assertIsNotNone(find_window(NOTICE, timeout=5), "the close click was not answered")
        self.assertIsNone(find_window("退出安装", timeout=1), "no exit question while installing")
        self.assertIsNone(run.proc.poll(), "closed half-installed")
        self.assertEqual(run.wait(60), 0)
        self.assertEqual(utf8_lines(os.path.join(INSTALL_DIR, "launched.txt")),
                         ['%s\\OrvelLauncher.exe -i "5" -d' % WIN_INSTALL_DIR])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
