#!/usr/bin/env python3
"""What every end-to-end suite shares: the build's ports and paths, the fault
server, the Wine environment, xdotool, the installer process, and the base
test case (a server for the class, a machine without traces for each case).

Imported by the suites, never run; reads BUILD from argv[1] like they do.
Needs DISPLAY and WINEPREFIX.
"""

import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "build", "out")
SERVER = os.path.join(ROOT, "tests", "Http", "server", "fault_server.py")
# Wine keeps no owners: every run is told the descriptor Windows gives the
# installer's own staging folder, so a later run resumes in an earlier one's.
# Wine commands never write to a pipe of ours: the first Wine program of a
# session starts Wine's own helper processes, which would inherit the pipe and
# keep it open long after the command ended.
WINE_ENV = dict(os.environ, WINEDEBUG="-all", LANG="zh_CN.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=",
                OV_TEST_STAGING_SDDL="O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)")


def cache_value(name):
    with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise KeyError(name)


PORT = int(cache_value("OV_E2E_PORT"))
# As CMake spells it for the suites, without "..": build/deps may link to
# another tree, whose keys the system would take "deps/../keys" to be.
KEYS = os.path.normpath(cache_value("OV_TEST_KEYS_DIR"))
# The lowest package version the dev tree's installers accept (scripts/setup.sh).
FLOOR = cache_value("OV_MIN_PACKAGE_VERSION")
STANDINS = os.path.join(BUILD, "standins")
BASE = "http://127.0.0.1:%d" % PORT
DRIVE_C = os.path.join(os.environ["WINEPREFIX"], "drive_c")
# The test prefix has a second fixed disk D: (scripts/setup.sh), which the
# installer proposes first.
DRIVE_D = os.path.join(os.environ["WINEPREFIX"], "drive_d")
INSTALL_ROOT = os.path.join(DRIVE_D, "欧维网络")
INSTALL_DIR = os.path.join(INSTALL_ROOT, "欧维澄岳")
WIN_INSTALL_DIR = "D:\\欧维网络\\欧维澄岳"
# The staging folder (one made for a single run has "-<8 hex digits>" after it).
STAGING_DIR = os.path.join(DRIVE_C, "ProgramData", "OrvelSetup")
WIN_STAGING_DIR = "C:\\ProgramData\\OrvelSetup"


def clear_staging():
    for path in [STAGING_DIR] + glob.glob(STAGING_DIR + "-*"):
        os.remove(path) if os.path.islink(path) or os.path.isfile(path) else shutil.rmtree(path, ignore_errors=True)


class SmallProgramData:
    """The common application-data folder on a tmpfs of SIZE as drive E: while
    it lasts, so the staging folder's disk can fill up (a volume mounted on the
    folder is a mount point, which the installer refuses). Needs root."""

    def __init__(self, work, size):
        self.mnt = os.path.join(work, "drive_e")
        self.link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "e:")
        self.staging = os.path.join(self.mnt, "ProgramData", "OrvelSetup")
        os.makedirs(self.mnt, exist_ok=True)
        self.mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", self.mnt],
                                      capture_output=True).returncode == 0
        if self.mounted:
            os.makedirs(os.path.dirname(self.staging))
            os.symlink(self.mnt, self.link)
            self.shell_folder("E:\\ProgramData")

    def shell_folder(self, value):
        key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"
        subprocess.run(["wine", "reg", "add", key, "/v", "Common AppData", "/t", "REG_EXPAND_SZ", "/d", value, "/f"],
                       env=WINE_ENV, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def close(self):
        if self.mounted:
            self.shell_folder("%ProgramData%")
            os.remove(self.link)
            subprocess.run(["umount", "-l", self.mnt], capture_output=True)
            self.mounted = False


# Descriptors of an "OrvelLaucher.ini" in C:\ProgramData as Windows 10/11 set
# them: written by an elevated installer (owner Administrators), and created by
# a standard user (owner that user). The local build judges the ini on the
# SDDL in OV_TEST_LAUNCHER_INI_SDDL, since Wine keeps no owners.
ADMINS_INI_SDDL = ("O:BAG:S-1-5-21-3623811015-3361044348-30300820-513D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)"
                   "(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)")
USERS_INI_SDDL = ("O:S-1-5-21-3623811015-3361044348-30300820-1013G:S-1-5-21-3623811015-3361044348-30300820-513"
                  "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;S-1-5-21-3623811015-3361044348-30300820-1013)"
                  "(A;ID;0x1200a9;;;BU)")

# Control positions in the window (from the layout).
INSTALL_BUTTON = (269, 259)
AGREE_OPTION = (21, 335)
CUSTOM_LINK = (486, 335)
CLOSE_BUTTON = (524, 12)
BOX_OK_BUTTON = (170, 93)  # "确定" of the message box
BOX_CLOSE_BUTTON = (267, 12)  # the message box's own close button
DIR_EDIT = (200, 294)  # page 1
INSTALL_NOW_BUTTON = (457, 332)  # page 1, btn_install2


def start_server(work, *extra):
    """The fault server on PORT, quiet (no pipe of ours for CTest to wait on),
    signing what it serves with the test publisher's key (the local installer
    verifies against it). Fails at once, naming the port, when it cannot
    listen there."""
    portfile = os.path.join(work, "port")
    signing = ["--sign-key", os.path.join(KEYS, "test.key"), "--other-key", os.path.join(KEYS, "other.key")]
    server = subprocess.Popen([sys.executable, SERVER, portfile, "--port", str(PORT), "--idle", "600"] + signing +
                              list(extra),
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(portfile) or server.poll() is not None:
            break
        time.sleep(0.1)
    if not os.path.exists(portfile):
        stop_server(server)
        raise RuntimeError("the test server could not listen on 127.0.0.1:%d (is the port in use?)" % PORT)
    return server


def stop_server(server):
    try:
        urllib.request.urlopen(BASE + "/_quit", timeout=5).read()
    except OSError:
        pass
    try:
        server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()


def sign_file(path, key="test", version="1.0.0"):
    """Writes PATH.minisig, signed with the test key (or "other") as release
    `version`, in the trusted comment's format of scripts/sign-release.sh."""
    subprocess.run(["minisign", "-S", "-s", os.path.join(KEYS, key + ".key"), "-m", path, "-x", path + ".minisig",
                    "-t", "version=%s size=%d" % (version, os.path.getsize(path))], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=60)


def utc_after(seconds):
    """The manifest's time format, `seconds` from now (negative: past)."""
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(time.time() + seconds))


def manifest_text(url, package, md5=None, version="1.0.0", expires=None):
    """A manifest as the publisher signs one: Size and Md5 of `package` (or
    `md5`), `version` (the fault server signs packages as 1.0.0 unless a
    query names ver=), Expires a day from now unless given ("" for none)."""
    expires = utc_after(86400) if expires is None else expires
    return ("[Install]\r\nUrl=%s\r\nSize=%d\r\nMd5=%s\r\nVersion=%s\r\n%s" % (
        url, len(package), md5 or hashlib.md5(package).hexdigest(), version,
        "Expires=%s\r\n" % expires if expires else "")).encode()


def post(path, data):
    req = urllib.request.Request(BASE + path, data=data, method="POST")
    with urllib.request.urlopen(req, timeout=10) as r:
        r.read()


def server_log():
    with urllib.request.urlopen(BASE + "/_log", timeout=10) as r:
        return [line.split("\t") for line in r.read().decode().splitlines()]


def xdo(*args, check=True):
    return subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True, text=True, check=check,
                          timeout=60).stdout


def windows_named(title):
    return xdo("search", "--onlyvisible", "--name", "^%s$" % title, check=False).split()


def find_window(title, timeout=30):
    """The first visible window named `title`, once there is one (None after `timeout`)."""
    end = time.time() + timeout
    while time.time() < end:
        found = windows_named(title)
        if found:
            return found[0]
        time.sleep(0.2)
    return None


def wait_gone(title, timeout):
    """True once no visible window has `title` (a window goes away a moment
    after its close request, not at once)."""
    end = time.time() + timeout
    while windows_named(title):
        if time.time() >= end:
            return False
        time.sleep(0.2)
    return True


def set_display_dpi(dpi):
    """The prefix's display scale (96 = 100 %), as the next Wine process sees
    it: the value is read when the server starts, so the server is ended."""
    subprocess.run(["wine", "reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                    "/d", str(dpi), "/f"], env=WINE_ENV, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run(["wineserver", "-k"], env=WINE_ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)
    subprocess.run(["wineserver", "-w"], env=WINE_ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)


def scaled(pos, dpi):
    return tuple(int(v * dpi / 96) for v in pos)


def window_size(wid):
    geo = dict(line.split("=") for line in xdo("getwindowgeometry", "--shell", wid).split())
    return int(geo["WIDTH"]), int(geo["HEIGHT"])


def window_origin(wid):
    geo = dict(line.split("=") for line in xdo("getwindowgeometry", "--shell", wid).split())
    return int(geo["X"]), int(geo["Y"])


def click(wid, pos):
    x, y = window_origin(wid)
    xdo("mousemove", x + pos[0], y + pos[1])
    time.sleep(0.2)
    xdo("click", "1")


def utf8_lines(path, timeout=10):
    """The file's lines, once it exists: the launcher is started, not waited
    for, so it may write its record just after the installer has ended."""
    end = time.time() + timeout
    while not os.path.exists(path) and time.time() < end:
        time.sleep(0.1)
    time.sleep(0.2)
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


class Installer:
    """One run of the installer executable."""

    def __init__(self, exe, launch_number=None, extra_env=None, cwd=None):
        args = ["wine", exe] + ([str(launch_number)] if launch_number is not None else [])
        env = dict(WINE_ENV, **(extra_env or {}))
        self.proc = subprocess.Popen(args, env=env, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
            # Its window outlives it for a moment: the next run's search for
            # the install window must not find (and click) this one.
            wait_gone("安装澄岳", 10)


# The screen reader of the access suite (tests/e2e/msaa_client.cpp): what a
# window shows, read from outside as a user's reader reads it.
MSAA_CLIENT = os.path.join(BUILD, "tests", "msaa_client.exe")
STATIC = 41  # the role of a text
# State letters: unavailable, focused, checked, focusable.
STATES = (("u", 0x1), ("F", 0x4), ("c", 0x10), ("f", 0x100000))


def read_rows(path):
    with open(path, encoding="utf-8") as f:
        return [line.split("\t") for line in f.read().splitlines()]


class Reader:
    """msaa_client.exe runs, each writing a file of its own (Wine programs never
    write to a pipe of ours, see WINE_ENV)."""

    def __init__(self, work, client=MSAA_CLIENT):
        self.work, self.client, self.n = work, client, 0

    def start(self, *args):
        self.n += 1
        out = os.path.join(self.work, "reader%d.txt" % self.n)
        return subprocess.Popen(["wine", self.client] + list(args) + [out], env=WINE_ENV, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL), out

    def run(self, *args):
        proc, out = self.start(*args)
        return proc.wait(60), read_rows(out)

    def tree(self, title):
        """(name, role) of the window's object; (name, role, state letters) of each visible child; the raw rows."""
        rc, rows = self.run("tree", title)
        assert rc == 0 and rows, "no accessible object for %s (%d)" % (title, rc)
        kids = [(r[3], int(r[1]), "".join(k for k, bit in STATES if int(r[2], 16) & bit)) for r in rows[1:]]
        return (rows[0][3], int(rows[0][1])), kids, rows[1:]


NOTICE = "澄岳提示"  # the failure notice's caption
MAIN_TITLE = "安装澄岳"
PACKAGE_PATH = os.path.join(STAGING_DIR, "ovinstaller.exe")
INSTALLER_TXT = os.path.join(INSTALL_DIR, "installer.txt")  # the package stand-in's record of its run


def get(path):
    with urllib.request.urlopen(BASE + path, timeout=10) as r:
        return r.read()


def clear_traces():
    """No earlier installation: neither the installed-launcher ini nor the registry value."""
    ini = os.path.join(DRIVE_C, "ProgramData", "OrvelLaucher.ini")
    if os.path.exists(ini):
        os.remove(ini)
    subprocess.run(["wine", "reg", "delete", "HKLM\\SOFTWARE\\OrvelLauncher", "/f", "/reg:32"], env=WINE_ENV,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


class InstallerCase(unittest.TestCase):
    """One fault server for the class (with the stand-in package, padded by
    PADDING, stored as "package"), and for each case a machine without an
    earlier installation, staging folder or server log; the installers a case
    started are killed and its `cleanups` undone after it."""

    WORK_PREFIX = "ove2e_"
    SERVER_ARGS = ()
    PADDING = b""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix=cls.WORK_PREFIX)
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        cls.server = start_server(cls.work, *cls.SERVER_ARGS)
        # Runs even when the rest of the set-up fails, so no server outlives us.
        cls.addClassCleanup(stop_server, cls.server)
        with open(os.path.join(STANDINS, "ovinstaller.exe"), "rb") as f:
            cls.package = f.read() + cls.PADDING
        cls.md5 = hashlib.md5(cls.package).hexdigest()
        post("/_put?name=package", cls.package)

    def setUp(self):
        clear_traces()
        shutil.rmtree(INSTALL_ROOT, ignore_errors=True)
        clear_staging()
        get("/_clear")
        self.runs = []
        self.cleanups = []

    def tearDown(self):
        for run in self.runs:
            run.kill()
        for undo in reversed(self.cleanups):
            undo()
        clear_traces()

    def route(self, path, query):
        post("/_route?path=" + path, query.encode())

    def serve_manifest(self, md5=None, url=None):
        """The manifest of the class's package at /ovinstall.txt (Url: /ovinstaller.exe)."""
        post("/_put?name=manifest", manifest_text(url or BASE + "/ovinstaller.exe", self.package, md5))
        self.route("/ovinstall.txt", "mode=stored&name=manifest")

    def serve_package(self, query):
        self.route("/ovinstaller.exe", query)

    def start(self, exe=None, launch_number=None, env=None, cwd=None):
        run = Installer(exe or os.path.join(BUILD, "local", "OvSetup.exe"), launch_number, env, cwd)
        self.runs.append(run)
        return run

    def main_window(self):
        wid = find_window(MAIN_TITLE)
        self.assertIsNotNone(wid, "the install window did not appear")
        time.sleep(1.0)  # first paint and layout
        return wid

    def install(self, exe=None, launch_number=None, env=None):
        """A new installer process with the install button clicked (its window is `run.wid`)."""
        run = self.start(exe, launch_number, env)
        run.wid = self.main_window()
        click(run.wid, INSTALL_BUTTON)
        return run

    def local_copy(self, package_bytes=None):
        """The installer in a folder of its own with "ovmain.dll" and a signed
        package beside it (the stand-in, or `package_bytes`)."""
        local = os.path.join(self.work, "local")
        shutil.rmtree(local, ignore_errors=True)
        os.makedirs(local)
        shutil.copy(os.path.join(BUILD, "local", "OvSetup.exe"), local)
        if package_bytes is None:
            shutil.copy(os.path.join(BUILD, "standins", "ovinstaller.exe"), local)
        else:
            with open(os.path.join(local, "ovinstaller.exe"), "wb") as f:
                f.write(package_bytes)
        sign_file(os.path.join(local, "ovinstaller.exe"))  # shipped as the publisher ships it
        open(os.path.join(local, "ovmain.dll"), "wb").close()
        return os.path.join(local, "OvSetup.exe")

    def requested(self):
        return [r[1] for r in server_log()]

    def notices(self):
        return windows_named(NOTICE)

    def notice_texts(self):
        """The texts the open failure notice shows."""
        return [name for name, role, _ in Reader(self.work).tree(NOTICE)[1] if role == STATIC]

    def watching(self):
        """Called at every poll of a wait (a suite that counts notices hooks in here)."""

    def failure_detail(self):
        """Appended to a wait's failure (a suite with a support log gives its tail)."""
        return ""

    def wait_for(self, run, seen, what, timeout):
        """Until `seen()`; fails when the installer ends first or time runs out."""
        end = time.time() + timeout
        while time.time() < end:
            if seen():
                return
            self.assertIsNone(run.proc.poll(), "the installer ended before the " + what)
            self.watching()
            time.sleep(0.1)
        self.fail("no %s within %d s%s" % (what, timeout, self.failure_detail()))

    def wait_notice(self, run, timeout):
        self.wait_for(run, self.notices, "failure notice", timeout)

    def wait_package_ran(self, run, timeout=120):
        """The MD5 of the package that ran: it runs at the first install tick
        and is deleted at the hand-off about ten seconds later, so it is still
        there to be read."""
        self.wait_for(run, lambda: os.path.exists(INSTALLER_TXT), "package run", timeout)
        with open(PACKAGE_PATH, "rb") as f:
            return hashlib.md5(f.read()).hexdigest()

    def logging_env(self, env=None):
        """`env` plus a support log of the case's own (read by support_log)."""
        self.log = os.path.join(self.work, "support-%s.log" % self._testMethodName)
        return dict(env or {}, OV_LOG_FILE="Z:" + self.log.replace("/", "\\"))

    def support_log(self):
        if not os.path.exists(self.log):
            return ""
        with open(self.log, "rb") as f:
            return f.read().decode("utf-16-le", errors="replace")
