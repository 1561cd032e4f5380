#!/usr/bin/env python3
"""Attacks of a local standard user on the elevated installer, tried for real
under Wine against the installer's local build (see e2e_test.py for how it is
driven). Wine runs every process elevated and keeps no ACLs; what Wine does
enforce is tested here (DLL search order with WINEDLLOVERRIDES, reparse
points, mount points, hard links), and the ownership decisions (the
installed-launcher ini, the staging folder) are driven through the local
build's seams.

Each attack comes with its control: the same set-up against a program or a
descriptor without the defence, which must show the attack succeeding, so a
pass means the defence held and not that the test was blind.

Usage: hardening_test.py BUILD_DIR [unittest arguments]
Needs DISPLAY, WINEPREFIX and xdotool, like e2e_test.py.
"""

import glob
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

import e2e_test as e2e  # the shared helpers; reads BUILD from argv[1]
from e2e_test import BASE, BUILD, DRIVE_C, INSTALL_DIR, INSTALL_ROOT, INSTALL_BUTTON, ROOT, STAGING_DIR

NOTICE = "澄岳提示"  # the failure notice's caption
PLANTED = os.path.join(BUILD, "planting", "planted.dll")
PROBE = os.path.join(BUILD, "planting", "dll_probe.exe")
PLANT_EXIT = 0x7E57 & 0xFF  # a planted DLL ends its process with this code


def delay_loaded_names():
    """The DLLs the program delay-loads: the LIBRARY line of each .def file."""
    names = []
    for path in glob.glob(os.path.join(ROOT, "cmake", "delayload", "*.def")):
        with open(path, encoding="utf-8") as f:
            m = re.search(r"^LIBRARY\s+(\S+?)(?:\.dll)?\s*$", f.read(), re.M | re.I)
            names.append(m.group(1).lower())
    return names


# Every DLL outside the system's known list that the installer may load:
# its delay-loaded imports, what libcurl loads at run time (secur32, its
# older name security, iphlpapi), and what the system loads on its behalf
# while it draws, hashes, resolves names and starts programs (the names the
# crypto providers, the theme engine, the shell and the network stack use).
# Not planted: version.dll, which Wine's own user32 imports and resolves
# before any code of the program runs; on Windows user32 is a known DLL and
# its imports never come from the program's folder.
PLANT_NAMES = sorted(set(delay_loaded_names()) | {
    "secur32", "security", "iphlpapi", "msimg32", "gdiplus", "uxtheme", "dwmapi", "cryptbase", "cryptsp",
    "rsaenh", "userenv", "profapi", "propsys", "winhttp", "wininet", "urlmon", "dbghelp", "oleacc", "edputil",
    "wtsapi32", "netapi32", "sspicli", "dnsapi", "kerberos", "msv1_0", "textinputframework", "coremessaging",
    "winmm", "bcrypt", "crypt32", "comctl32"})


def plant(folder, names):
    for name in names:
        shutil.copy(PLANTED, os.path.join(folder, name + ".dll"))
    return {"WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(names)}


def planted_loads(folder):
    """{dll name: program that loaded it} for every planted DLL that was loaded."""
    loads = {}
    for record in glob.glob(os.path.join(folder, "*.dll.loaded")):
        with open(record, "rb") as f:
            loads[os.path.basename(record)[:-len(".loaded")]] = f.read().decode("utf-16-le", "replace")
    return loads


class HardeningTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="ovhard_")
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        cls.server = e2e.start_server(cls.work)
        cls.addClassCleanup(e2e.stop_server, cls.server)
        with open(os.path.join(BUILD, "standins", "ovinstaller.exe"), "rb") as f:
            cls.package = f.read()
        e2e.post("/_put?name=package", cls.package)

    def setUp(self):
        e2e.InstallerTest.clear_traces(self)
        shutil.rmtree(INSTALL_ROOT, ignore_errors=True)
        e2e.clear_staging()
        urllib.request.urlopen(BASE + "/_clear", timeout=5).read()
        text = "[Install]\r\nUrl=%s/ovinstaller.exe\r\nSize=%d\r\nMd5=%s\r\nVersion=1.0.0\r\n" % (
            BASE, len(self.package), hashlib.md5(self.package).hexdigest())
        e2e.post("/_put?name=manifest", text.encode())
        e2e.post("/_route?path=/ovinstall.txt", b"mode=stored&name=manifest")
        e2e.post("/_route?path=/ovinstaller.exe", b"blob=package")
        self.runs = []
        self.cleanups = []

    def tearDown(self):
        for run in self.runs:
            run.kill()
        for undo in reversed(self.cleanups):
            undo()
        e2e.InstallerTest.clear_traces(self)

    def start(self, exe=None, launch_number=None, env=None, cwd=None):
        run = e2e.Installer(exe or os.path.join(BUILD, "local", "OvSetup.exe"), launch_number, env, cwd)
        self.runs.append(run)
        return run

    def install(self, run):
        wid = e2e.find_window("安装澄岳")
        self.assertIsNotNone(wid, "the install window did not appear")
        time.sleep(1.0)
        e2e.click(wid, INSTALL_BUTTON)

    def requests(self):
        return [r[1] for r in e2e.server_log()]

    # -- planted DLLs -------------------------------------------------------------
    def test_dlls_planted_beside_the_installer_are_never_loaded(self):
        # A Downloads folder: the installer, every DLL an attacker could name,
        # and the folder is also the current directory, as after a double click.
        downloads = os.path.join(self.work, "downloads")
        os.makedirs(downloads)
        shutil.copy(os.path.join(BUILD, "local", "OvSetup.exe"), downloads)
        env = plant(downloads, PLANT_NAMES)
        run = self.start(exe=os.path.join(downloads, "OvSetup.exe"), launch_number=5, env=env, cwd=downloads)
        # A planted DLL ends the process before or instead of the window.
        wid = e2e.find_window("安装澄岳")
        self.assertEqual(planted_loads(downloads), {}, "planted DLLs were loaded")
        self.assertIsNotNone(wid, "the install window did not appear")
        time.sleep(1.0)
        e2e.click(wid, INSTALL_BUTTON)
        code = run.wait(120)
        self.assertEqual(planted_loads(downloads), {}, "planted DLLs were loaded")
        self.assertEqual(code, 0)
        # The whole flow ran: manifest, package, hand-over to the launcher.
        self.assertEqual(e2e.utf8_lines(os.path.join(INSTALL_DIR, "launched.txt")),
                         ['%s\\OrvelLauncher.exe -i "5" -d' % e2e.WIN_INSTALL_DIR])

    def test_control_a_program_importing_a_planted_name_loads_it(self):
        # The same folder and overrides against a program that imports WINMM
        # the ordinary way: the planted copy must be seen loading.
        folder = os.path.join(self.work, "probe")
        os.makedirs(folder)
        shutil.copy(PROBE, folder)
        env = plant(folder, PLANT_NAMES)
        run = self.start(exe=os.path.join(folder, "dll_probe.exe"), env=env, cwd=folder)
        self.assertEqual(run.wait(60), PLANT_EXIT)
        self.assertIn("winmm.dll", {k.lower() for k in planted_loads(folder)})

    # -- the installed-launcher ini ---------------------------------------------
    def plant_ini(self, program):
        win = "Z:" + program.replace("/", "\\")
        ini = os.path.join(DRIVE_C, "ProgramData", "OrvelLaucher.ini")
        with open(ini, "w", encoding="utf-16") as f:
            f.write("[Orvelnet-Launcher]\r\nInstallPath=%s\r\n" % win)

    def marker_program(self):
        """A standard user's program under the launcher's name: it records each start."""
        folder = os.path.join(self.work, "marker")
        os.makedirs(folder, exist_ok=True)
        shutil.copy(os.path.join(BUILD, "standins", "OrvelLauncher.exe"), folder)
        record = os.path.join(folder, "launched.txt")
        if os.path.exists(record):
            os.remove(record)
        return os.path.join(folder, "OrvelLauncher.exe"), record

    def test_a_users_ini_never_starts_the_program_it_names(self):
        marker, record = self.marker_program()
        self.plant_ini(marker)
        # The descriptor a standard user's file gets on Windows, and the one
        # Wine itself reports (the Unix user owns every file): both refused.
        for sddl in (e2e.USERS_INI_SDDL, None):
            with self.subTest(descriptor="standard user's" if sddl else "Wine's own"):
                env = {"OV_TEST_LAUNCHER_INI_SDDL": sddl} if sddl else None
                run = self.start(launch_number=1, env=env)
                self.assertIsNotNone(e2e.find_window("安装澄岳"), "the installer should carry on as on a clean machine")
                time.sleep(2)
                self.assertFalse(os.path.exists(record), "the planted program ran")
                self.assertIsNone(run.proc.poll())
                run.kill()

    def test_control_an_administrators_ini_starts_the_program_it_names(self):
        # Same planted file judged on an elevated installer's descriptor: the
        # program starts, so the test above would see it if it did.
        marker, record = self.marker_program()
        self.plant_ini(marker)
        run = self.start(launch_number=1, env={"OV_TEST_LAUNCHER_INI_SDDL": e2e.ADMINS_INI_SDDL})
        self.assertEqual(run.wait(60), 0)
        self.assertEqual(len(e2e.utf8_lines(record)), 1)

    # -- the staging folder -------------------------------------------------------
    def install_and_wait(self, env=None):
        run = self.start(launch_number=2, env=env)
        self.install(run)
        self.assertEqual(run.wait(120), 0)
        return e2e.utf8_lines(os.path.join(INSTALL_DIR, "installer-cwd.txt"))[0]

    def test_a_staging_folder_a_standard_user_made_first_is_not_used(self):
        # A standard user makes C:\ProgramData\OrvelSetup first and fills it:
        # a DLL for the package to load, and a "partial download" of theirs.
        os.makedirs(STAGING_DIR)
        planted = {"version.dll": b"MZ planted", "ovinstaller.exe.yw": b"MZ not the publisher's"}
        for name, data in planted.items():
            with open(os.path.join(STAGING_DIR, name), "wb") as f:
                f.write(data)
        cwd = self.install_and_wait({"OV_TEST_STAGING_SDDL": e2e.USERS_STAGING_SDDL})
        self.assertTrue(cwd.startswith(e2e.WIN_STAGING_DIR + "-"), "the package ran in " + cwd)
        for name, data in planted.items():
            with open(os.path.join(STAGING_DIR, name), "rb") as f:
                self.assertEqual(f.read(), data, name + " was touched")
        self.assertEqual(sorted(os.listdir(STAGING_DIR)), sorted(planted))
        self.assertEqual(e2e.run_only_staging_dirs(), [], "the folder made for the run stays behind")

    def test_control_the_installers_own_staging_folder_is_used_again(self):
        # The same folder judged on the descriptor the installer gives it:
        # used (a partial download there would resume), so the case above
        # would see it if it were.
        os.makedirs(STAGING_DIR)
        self.assertEqual(self.install_and_wait(), e2e.WIN_STAGING_DIR)

    def test_links_and_mount_points_at_the_staging_folder_are_never_followed(self):
        # A link made at the name (a junction on Windows; a Unix symbolic link
        # here, which Wine reports as a reparse point), and a folder made a
        # mount point (a volume mounted on it, which Wine reports the same way).
        target = os.path.join(self.work, "redirected")
        for kind in ("link", "mount point"):
            with self.subTest(kind=kind):
                e2e.clear_staging()
                shutil.rmtree(INSTALL_ROOT, ignore_errors=True)
                os.makedirs(target, exist_ok=True)
                if kind == "link":
                    os.symlink(target, STAGING_DIR)
                else:
                    os.makedirs(STAGING_DIR)
                    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs", STAGING_DIR],
                                      capture_output=True).returncode != 0:
                        self.skipTest("no tmpfs mount here (needs root)")
                    self.cleanups.append(lambda: subprocess.run(["umount", "-l", STAGING_DIR], capture_output=True))
                cwd = self.install_and_wait()
                self.assertTrue(cwd.startswith(e2e.WIN_STAGING_DIR + "-"), "the package ran in " + cwd)
                redirected = target if kind == "link" else STAGING_DIR
                self.assertEqual(os.listdir(redirected), [], "something was created through the " + kind)
                if kind != "link":
                    subprocess.run(["umount", "-l", STAGING_DIR], capture_output=True)

    def test_hard_links_at_the_installers_file_names_are_never_written_through(self):
        # In the installer's own staging folder (an earlier run's), the names
        # it writes are hard links to files of someone else's.
        os.makedirs(STAGING_DIR)
        victims = {}
        for name in ("ovinstall.ini", "ovinstaller.exe.yw", "ovinstaller.exe"):
            victim = os.path.join(self.work, "victim-" + name)
            with open(victim, "wb") as f:
                f.write(b"someone else's " + name.encode())
            os.link(victim, os.path.join(STAGING_DIR, name))
            victims[victim] = b"someone else's " + name.encode()
        self.assertEqual(self.install_and_wait(), e2e.WIN_STAGING_DIR)
        for victim, data in victims.items():
            with open(victim, "rb") as f:
                self.assertEqual(f.read(), data, os.path.basename(victim) + " was written through its link")
            self.assertEqual(os.stat(victim).st_nlink, 1, "the installer kept a name of someone else's file")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
