#!/usr/bin/env python3
"""The installer for users without a mouse or without sight: a small screen
reader of our own (msaa_client.exe, out of process, MSAA) reads every page
and a notice, hears the focus, state and progress events and installs with
a default action; and an install is made with key presses alone.

Usage: access_test.py BUILD_DIR MSAA_CLIENT [unittest arguments]
Run like e2e_test.py (Xvfb display, the tree's Wine prefix, its server port).
"""

import os
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import e2e_test as e2e

CLIENT = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else os.path.join(e2e.BUILD, "tests", "msaa_client.exe")

PUSH, CHECK, LINK, STATIC, TEXT, BAR, CLIENT_ROLE, DIALOG = 43, 44, 30, 41, 42, 48, 10, 18
# State letters of the tables: what a screen reader would say of a control.
STATES = (("u", 0x1), ("F", 0x4), ("c", 0x10), ("i", 0x8000), ("f", 0x100000))
EV_FOCUS, EV_STATE, EV_NAME, EV_VALUE, EV_SHOW, EV_HIDE, EV_ALERT = (
    "8005", "800a", "800c", "800e", "8002", "8003", "0002")


def flags(state):
    return "".join(letter for letter, bit in STATES if state & bit)


class Reader:
    """msaa_client.exe runs, each writing to a file of its own (a Wine program
    never writes to a pipe of ours, see e2e_test.WINE_ENV)."""

    def __init__(self, work):
        self.work = work
        self.n = 0

    def _out(self):
        self.n += 1
        return os.path.join(self.work, "reader%d.txt" % self.n)

    def run(self, *args, timeout=60):
        out = self._out()
        rc = subprocess.run(["wine", CLIENT] + list(args) + [out], env=e2e.WINE_ENV, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout).returncode
        with open(out, encoding="utf-8") as f:
            return rc, [line.split("\t") for line in f.read().splitlines()]

    def tree(self, title):
        """(self row, [(name, role, state letters), ...]) of the visible children."""
        rc, rows = self.run("tree", title)
        assert rc == 0 and rows, "no accessible object for %s (%d)" % (title, rc)
        return rows[0], [(r[3], int(r[1]), flags(int(r[2], 16))) for r in rows[1:]], rows[1:]

    def start(self, *args):
        """A client left running (watch, gone): its process and its output file."""
        out = self._out()
        proc = subprocess.Popen(["wine", CLIENT] + list(args) + [out], env=e2e.WINE_ENV, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return proc, out


def lines(path):
    with open(path, encoding="utf-8") as f:
        return [line.split("\t") for line in f.read().splitlines()]


class AccessTest(e2e.InstallerTest):
    def key(self, wid, *keys):
        e2e.xdo("windowactivate", "--sync", wid, check=False)
        for k in keys:
            e2e.xdo("key", k)
            time.sleep(0.3)

    def test_a_screen_reader_reads_every_page_and_installs(self):
        reader = Reader(self.work)
        run = self.start(launch_number=3)
        wid = self.main_window()
        watch, events_file = reader.start("watch", "安装澄岳", "90")
        time.sleep(3)

        me, page0, _ = reader.tree("安装澄岳")
        self.assertEqual((me[3], int(me[1])), ("安装澄岳", CLIENT_ROLE))
        self.assertEqual(page0, [("立即安装", PUSH, "f"), ("同意软件许可协议", CHECK, "cf"), ("软件许可协议", LINK, "f"),
                                 ("自定义安装", PUSH, "f"), ("最小化", PUSH, ""), ("关闭", PUSH, "")])

        # The keyboard, heard: the focus moves, the agreement is cleared and ticked.
        self.key(wid, "Tab", "Tab", "space", "space")
        _, now, _ = reader.tree("安装澄岳")
        self.assertEqual(now[1], ("同意软件许可协议", CHECK, "Fcf"))

        # A notice: its text, its buttons; the window behind it is unavailable.
        rc, said = reader.run("do", "安装澄岳", "关闭")
        self.assertEqual(rc, 0, said)
        me, box, _ = reader.tree("退出安装")
        self.assertEqual((me[3], int(me[1])), ("退出安装", DIALOG))
        self.assertEqual(box, [("退出安装", STATIC, ""), ("关闭", PUSH, ""), ("是否退出安装？", STATIC, ""),
                               ("确定", PUSH, "f"), ("取消", PUSH, "f")])
        _, behind, _ = reader.tree("安装澄岳")
        self.assertTrue(all("u" in f for _, _, f in behind), behind)
        # A reader holding the box's object after it has gone is told so.
        holder, held = reader.start("gone", "退出安装")
        time.sleep(3)
        self.assertEqual(reader.run("do", "退出安装", "取消")[0], 0)
        holder.wait(60)
        self.assertIn(lines(held)[0][0], ("0x80010108", "0x800401fd"), "a gone box answers disconnected")
        self.assertIsNone(run.proc.poll(), "cancelled: the installer keeps running")

        self.assertEqual(reader.run("do", "安装澄岳", "自定义安装")[0], 0)
        time.sleep(1)
        _, page1, rows = reader.tree("安装澄岳")
        self.assertEqual([(n, r) for n, r, _ in page1],
                         [("安装目录", STATIC), ("安装目录", TEXT), ("选择目录", PUSH), ("所需磁盘空间：120MB", STATIC),
                          ("可用磁盘空间：", STATIC), (page1[5][0], STATIC), ("立即安装", PUSH), ("最小化", PUSH),
                          ("关闭", PUSH)])
        self.assertEqual(rows[1][4], e2e.WIN_INSTALL_DIR, "the edit's value is the directory")
        self.assertEqual(page1[6][2], "f")

        self.assertEqual(reader.run("do", "安装澄岳", "立即安装")[0], 0)
        time.sleep(1)
        _, page2, rows = reader.tree("安装澄岳")
        self.assertEqual([(n, r) for n, r, _ in page2][:1] + [(r, ) for _, r, _ in page2[1:2]],
                         [("安装进度", BAR), (STATIC, )])
        self.assertTrue(rows[0][4].endswith("%"), rows[0])
        self.assertEqual(run.wait(120), 0, "handed over to the launcher")
        watch.wait(120)

        events = [e for e in lines(events_file) if e[0] == "event"]
        seen = lambda kind: [e for e in events if e[1] == kind]
        self.assertIn("立即安装", [e[4] for e in seen(EV_FOCUS)])
        self.assertIn("同意软件许可协议", [e[4] for e in seen(EV_FOCUS)])
        checks = [int(e[6], 16) & 0x10 for e in seen(EV_STATE) if e[4] == "同意软件许可协议"]
        self.assertEqual(checks[:2], [0, 0x10], "cleared, then ticked again")
        self.assertIn("退出安装", [e[2] for e in seen(EV_ALERT)])
        self.assertIn("选择目录", [e[4] for e in seen(EV_SHOW)])
        self.assertIn("立即安装", [e[4] for e in seen(EV_HIDE)])
        values = [(int(e[7]), e[5]) for e in seen(EV_VALUE) if e[4] == "安装进度"]
        self.assertGreaterEqual(len(values), 3, values)
        self.assertEqual(values[-1][1], "100%")
        gaps = [b[0] - a[0] for a, b in zip(values, values[1:])]
        self.assertGreaterEqual(min(gaps), 900, "at most one value event a second: %s" % values)
        self.assertTrue(any(e[4].startswith("安装中") for e in seen(EV_NAME)), "the percent label is heard")

    def test_an_install_from_the_keyboard_alone(self):
        run = self.start(launch_number=5)
        wid = self.main_window()
        # Enter with nothing focused does nothing; then the agreement is cleared.
        self.key(wid, "Return", "Tab", "Tab", "space", "shift+Tab", "Return")
        box = e2e.find_window("提示", timeout=10)
        self.assertIsNotNone(box, "installing without the agreement warns")
        self.key(box, "Tab", "Return")
        self.assertTrue(e2e.wait_gone("提示", timeout=6), "the warning's 确定 from the keyboard")
        # Ticked again; the directory page: its edit, the chooser, then install.
        self.key(wid, "Tab", "space", "Tab", "Tab", "Return")
        time.sleep(1)
        self.key(wid, "Tab")
        shot = os.path.join(self.work, "focus.png")
        subprocess.run(["import", "-window", "root", shot], capture_output=True, timeout=60)
        self.key(wid, "Tab", "Tab", "Return")
        self.assertEqual(run.wait(120), 0)
        launched = e2e.utf8_lines(os.path.join(e2e.INSTALL_DIR, "launched.txt"))
        self.assertEqual(launched, ['%s\\OrvelLauncher.exe -i "5" -d' % e2e.WIN_INSTALL_DIR])


# Only this file's cases: the base class's are e2e_test's own.
for _name in dir(e2e.InstallerTest):
    if _name.startswith("test_"):
        setattr(AccessTest, _name, None)

if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
