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
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

import harness as e2e  # reads BUILD from argv[1]
from harness import BUILD, DRIVE_C, INSTALL_DIR, INSTALL_ROOT, INSTALL_BUTTON, ROOT, STAGING_DIR

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


class HardeningTest(e2e.InstallerCase):
    WORK_PREFIX = "ovhard_"

    def setUp(self):
        super().setUp()
        self.serve_manifest()
        self.serve_package("blob=package")

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
    def test_no_staging_folder_a_standard_user_prepared_reaches_anyones_files(self):
        # C:\ProgramData\OrvelSetup made a user's first (with a DLL and a
        # partial download), a link (a reparse point to Wine), a mount point,
        # or the installer's own with hard links at its names. (The control,
        # its own folder used again: the reliability tests' resume.)
        theirs = os.path.join(self.work, "theirs")
        os.makedirs(theirs)
        users = "O:S-1-5-21-3623811015-3361044348-30300820-1013D:(A;;FA;;;BU)"
        for kind in ("a user's", "link", "mount point", "hard links"):
            with self.subTest(kind=kind):
                e2e.clear_staging()
                shutil.rmtree(INSTALL_ROOT, ignore_errors=True)
                os.symlink(theirs, STAGING_DIR) if kind == "link" else os.makedirs(STAGING_DIR)
                if kind == "mount point":
                    if subprocess.run(["mount", "-t", "tmpfs", "tmpfs", STAGING_DIR]).returncode:
                        self.skipTest("no tmpfs mount here (needs root)")
                    self.cleanups.append(lambda: subprocess.run(["umount", "-l", STAGING_DIR]))
                names = {"a user's": ("version.dll", "ovinstaller.exe.yw"),
                         "hard links": ("ovinstall.ini", "ovinstaller.exe.yw", "ovinstaller.exe")}.get(kind, ())
                for name in names:
                    with open(os.path.join(theirs, name), "wb") as f:
                        f.write(b"theirs")
                    os.link(os.path.join(theirs, name), os.path.join(STAGING_DIR, name))
                run = self.install(env={"OV_TEST_STAGING_SDDL": users} if kind == "a user's" else None)
                self.assertEqual(run.wait(120), 0)
                cwd = e2e.utf8_lines(os.path.join(INSTALL_DIR, "installer-cwd.txt"))[0]
                self.assertEqual(cwd.startswith(e2e.WIN_STAGING_DIR + "-"), kind != "hard links", cwd)
                for name in os.listdir(theirs):
                    with open(os.path.join(theirs, name), "rb") as f:
                        self.assertEqual(f.read(), b"theirs", name + " was written through")
                self.assertEqual(sorted(os.listdir(STAGING_DIR if kind == "mount point" else theirs)), sorted(names))
                self.assertEqual(glob.glob(STAGING_DIR + "-*"), [], "the folder made for the run stays behind")
                if kind == "mount point":
                    subprocess.run(["umount", "-l", STAGING_DIR])
                for name in names:
                    os.remove(os.path.join(theirs, name))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
