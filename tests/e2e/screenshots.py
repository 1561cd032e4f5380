#!/usr/bin/env python3
"""Screenshots of the real installer for docs/: each stage of an install and
each failure notice, every one from the local build under Wine against the
fault server, set up as a user would meet it (nothing comes from the skin
preview).

Usage: screenshots.py BUILD_DIR OUT_DIR [--scale=PERCENT] [NAME...]
Needs DISPLAY, WINEPREFIX and xdotool like e2e_test.py; the full-disk notice
needs root (a small tmpfs). Only NAMEs given are taken (all by default).
With --scale (150, 200, ...) the prefix's display scale is set for the run
(and put back to 100 % after), the files are named "NAME-PERCENT.png", and
the display must be large enough for the scaled window (200 %: 1100 x 740).
"""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

OUT = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
SCALE = next((int(a.split("=", 1)[1]) for a in sys.argv[3:] if a.startswith("--scale=")), 100)
DPI = 96 * SCALE // 100
WANTED = set(a for a in sys.argv[3:] if not a.startswith("--scale="))
del sys.argv[2:]

import harness as e2e  # noqa: E402  (reads BUILD from argv[1])
from harness import (BASE, BUILD, INSTALL_DIR, INSTALL_ROOT, INSTALL_BUTTON, CUSTOM_LINK, CLOSE_BUTTON,  # noqa: E402
                      NOTICE, STAGING_DIR, post, find_window, scaled)


def click(wid, pos):
    """A click where the control is drawn at the run's scale."""
    e2e.click(wid, scaled(pos, DPI))


def shoot(wid, name):
    """The window with a margin for its shadow (and a box centred over it)."""
    x, y = e2e.window_origin(wid)
    margin = 10 * DPI // 96
    w, h = scaled((560, 380), DPI)
    path = os.path.join(OUT, name + ("" if SCALE == 100 else "-%d" % SCALE) + ".png")
    subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x - margin, y - margin), "+repage",
                    path], check=True, timeout=60)
    print("screenshot", path, flush=True)


class Shots:
    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="ovshots_")
        self.server = e2e.start_server(self.work)
        with open(os.path.join(BUILD, "standins", "ovinstaller.exe"), "rb") as f:
            self.package = f.read() + b"\x55" * 30000000
        self.md5 = hashlib.md5(self.package).hexdigest()
        post("/_put?name=package", self.package)
        self.runs = []

    def close(self):
        for run in self.runs:
            run.kill()
        e2e.stop_server(self.server)
        shutil.rmtree(self.work, ignore_errors=True)

    def fresh(self, md5=None, package_route="blob=package&mode=trickle&chunk=262144&delay=100"):
        for run in self.runs:
            run.kill()
        self.runs = []
        e2e.clear_traces()
        shutil.rmtree(INSTALL_ROOT, ignore_errors=True)
        e2e.clear_staging()
        urllib.request.urlopen(BASE + "/_clear", timeout=5).read()
        post("/_put?name=manifest", e2e.manifest_text(BASE + "/ovinstaller.exe", self.package, md5 or self.md5))
        post("/_route?path=/ovinstall.txt", b"mode=stored&name=manifest")
        post("/_route?path=/ovinstaller.exe", package_route.encode())

    def start(self, exe=None, env=None):
        run = e2e.Installer(exe or os.path.join(BUILD, "local", "OvSetup.exe"), 7, extra_env=env)
        self.runs.append(run)
        wid = find_window("安装澄岳")
        if wid is None:
            raise RuntimeError("the install window did not appear")
        time.sleep(1.5)
        return wid

    def local_copy(self, package):
        local = os.path.join(self.work, "local")
        shutil.rmtree(local, ignore_errors=True)
        os.makedirs(local)
        shutil.copy(os.path.join(BUILD, "local", "OvSetup.exe"), local)
        shutil.copy(package, os.path.join(local, "ovinstaller.exe"))
        e2e.sign_file(os.path.join(local, "ovinstaller.exe"))  # shipped as the publisher ships it
        open(os.path.join(local, "ovmain.dll"), "wb").close()
        return os.path.join(local, "OvSetup.exe")

    def notice(self, wid, name, timeout=60):
        if find_window(NOTICE, timeout=timeout) is None:
            raise RuntimeError("no notice for " + name)
        time.sleep(1.0)
        shoot(wid, name)

    # -- the stages ----------------------------------------------------------------
    def stages(self):
        self.fresh()
        wid = self.start()
        shoot(wid, "1-start")
        click(wid, INSTALL_BUTTON)
        time.sleep(4)
        shoot(wid, "2-downloading")
        end = time.time() + 120
        while not os.path.exists(os.path.join(INSTALL_DIR, "installer.txt")) and time.time() < end:
            time.sleep(0.3)
        time.sleep(2)
        shoot(wid, "3-installing")

    def directory_page(self):
        self.fresh()
        wid = self.start()
        click(wid, CUSTOM_LINK)
        time.sleep(1.5)
        shoot(wid, "4-directory-page")

    def exit_box(self):
        self.fresh()
        wid = self.start()
        click(wid, CLOSE_BUTTON)
        find_window("退出安装", timeout=10)
        time.sleep(1)
        shoot(wid, "5-exit-box")

    # -- the notices ------------------------------------------------------------------
    def notice_network(self):
        self.fresh()
        post("/_route?path=/ovinstall.txt", b"mode=status&code=404")
        wid = self.start()
        click(wid, INSTALL_BUTTON)
        self.notice(wid, "notice-network")

    def notice_package_check(self):
        self.fresh(md5="0" * 32)
        wid = self.start()
        click(wid, INSTALL_BUTTON)
        self.notice(wid, "notice-package-check")

    def notice_disk_unwritable(self):
        self.fresh()
        os.makedirs(os.path.join(STAGING_DIR, "ovinstaller.exe.yw"))
        wid = self.start()
        click(wid, INSTALL_BUTTON)
        self.notice(wid, "notice-disk-unwritable")

    def notice_disk_full(self):
        # A 3 MB volume for the staging folder (see e2e.SmallProgramData).
        self.fresh(package_route="blob=package")
        small = e2e.SmallProgramData(self.work, "3m")
        if not small.mounted:
            print("skipped notice-disk-full: no tmpfs mount here (needs root)")
            return
        try:
            wid = self.start()
            click(wid, INSTALL_BUTTON)
            self.notice(wid, "notice-disk-full")
        finally:
            for run in self.runs:
                run.kill()
            small.close()

    def notice_package_start(self):
        self.fresh()
        bad = os.path.join(self.work, "not-a-program")
        with open(bad, "wb") as f:
            f.write(b"not a program")
        wid = self.start(exe=self.local_copy(bad))
        click(wid, INSTALL_BUTTON)
        self.notice(wid, "notice-package-start")

    def notice_launcher_start(self):
        self.fresh()
        # A package that runs but leaves no launcher behind.
        wid = self.start(exe=self.local_copy(os.path.join(BUILD, "standins", "OrvelLauncher.exe")))
        click(wid, INSTALL_BUTTON)
        self.notice(wid, "notice-launcher-start", timeout=40)

    def notice_installing(self):
        self.fresh()
        wid = self.start(exe=self.local_copy(os.path.join(BUILD, "standins", "ovinstaller.exe")),
                         env={"OV_STANDIN_INSTALL_MS": "25000"})
        click(wid, INSTALL_BUTTON)
        time.sleep(13)
        click(wid, CLOSE_BUTTON)
        self.notice(wid, "notice-installing", timeout=10)


def main():
    os.makedirs(OUT, exist_ok=True)
    if DPI != 96:
        e2e.set_display_dpi(DPI)
    shots = Shots()
    try:
        for name in ("stages", "directory_page", "exit_box", "notice_network", "notice_package_check",
                     "notice_disk_unwritable", "notice_disk_full", "notice_package_start", "notice_launcher_start",
                     "notice_installing"):
            if not WANTED or name in WANTED:
                getattr(shots, name)()
    finally:
        shots.close()
        if DPI != 96:
            e2e.set_display_dpi(96)


if __name__ == "__main__":
    main()
