#!/usr/bin/env python3
"""A screen reader of our own (msaa_client.exe, MSAA, out of process) reads
every page and a notice, hears the events and installs; and an install from
the keyboard alone. Usage: access_test.py BUILD_DIR MSAA_CLIENT [unittest args]."""

import os
import sys
import time

import harness as e2e

CLIENT = os.path.abspath(sys.argv[2])
PUSH, CHECK, LINK, TEXT, BAR = 43, 44, 30, 42, 48
STATIC = e2e.STATIC
FOCUS, STATE, NAME, VALUE, SHOW, HIDE, ALERT = "8005", "800a", "800c", "800e", "8002", "8003", "0002"


class AccessTest(e2e.InstallerCase):
    PADDING = b"\x55" * 6000000  # a download of a few progress ticks

    def setUp(self):
        super().setUp()
        self.serve_manifest()
        self.serve_package("blob=package&mode=trickle&chunk=1048576&delay=100")

    def key(self, wid, *keys):
        e2e.xdo("windowactivate", "--sync", wid, check=False)
        for k in keys:
            e2e.xdo("key", k)
            time.sleep(0.3)

    def test_a_screen_reader_reads_every_page_and_installs(self):
        reader = e2e.Reader(self.work, CLIENT)
        run = self.start(launch_number=3)
        wid = self.main_window()
        watch, heard = reader.start("watch", "安装澄岳", "90")
        time.sleep(3)
        me, page0, _ = reader.tree("安装澄岳")
        self.assertEqual(me, ("安装澄岳", 10))
        self.assertEqual(page0, [("立即安装", PUSH, "f"), ("同意软件许可协议", CHECK, "cf"), ("软件许可协议", LINK, "f"),
                                 ("自定义安装", PUSH, "f"), ("最小化", PUSH, ""), ("关闭", PUSH, "")])
        # The keyboard, heard: the focus moves, the agreement is cleared and ticked.
        self.key(wid, "Tab", "Tab", "space", "space")
        self.assertEqual(reader.tree("安装澄岳")[1][1], ("同意软件许可协议", CHECK, "Fcf"))

        # A notice: its text and buttons; the window behind it is unavailable.
        self.assertEqual(reader.run("do", "安装澄岳", "关闭")[0], 0)
        me, box, _ = reader.tree("退出安装")
        self.assertEqual(me, ("退出安装", 18))
        self.assertEqual(box, [("退出安装", STATIC, ""), ("关闭", PUSH, ""), ("是否退出安装？", STATIC, ""),
                               ("确定", PUSH, "f"), ("取消", PUSH, "f")])
        self.assertTrue(all("u" in s for _, _, s in reader.tree("安装澄岳")[1]))
        # A reader that holds the box's object after the box has gone is told so.
        holder, held = reader.start("gone", "退出安装")
        time.sleep(3)
        self.assertEqual(reader.run("do", "退出安装", "取消")[0], 0)
        holder.wait(60)
        self.assertIn(e2e.read_rows(held)[0][0], ("0x80010108", "0x800401fd"), "a gone box answers disconnected")
        self.assertIsNone(run.proc.poll(), "cancelled: the installer keeps running")

        self.assertEqual(reader.run("do", "安装澄岳", "自定义安装")[0], 0)
        time.sleep(1)
        _, page1, rows = reader.tree("安装澄岳")
        self.assertEqual(page1, [("安装目录", STATIC, ""), ("安装目录", TEXT, "f"), ("选择目录", PUSH, "f"),
                                 ("所需磁盘空间：120MB", STATIC, ""), ("可用磁盘空间：", STATIC, ""),
                                 (page1[5][0], STATIC, ""), ("立即安装", PUSH, "f"), ("最小化", PUSH, ""),
                                 ("关闭", PUSH, "")])
        self.assertEqual(rows[1][4], e2e.WIN_INSTALL_DIR, "the edit's value is the directory")
        self.key(wid, "Tab")  # into the field: its native window is named like it
        self.assertEqual(reader.run("do", "安装澄岳", "立即安装")[0], 0)
        time.sleep(1)
        _, page2, rows = reader.tree("安装澄岳")
        self.assertEqual([page2[0][:2]] + [r for _, r, _ in page2[1:]], [("安装进度", BAR), STATIC, PUSH, PUSH])
        self.assertEqual(run.wait(120), 0, "handed over to the launcher")

        watch.wait(120)
        events = [e for e in e2e.read_rows(heard) if e[0] == "event"]
        seen = lambda kind, field=4: [e[field] for e in events if e[1] == kind]
        self.assertLessEqual({"立即安装", "同意软件许可协议", "安装目录"}, set(seen(FOCUS)))
        # The native edit window's own object (a window without a title) too.
        self.assertIn("安装目录", [e[4] for e in events if e[1] == FOCUS and e[2:4] == ["", "0"]])
        checks = [int(e[6], 16) & 0x10 for e in events if e[1] == STATE and e[4] == "同意软件许可协议"]
        self.assertEqual(checks[:2], [0, 0x10], "cleared, then ticked again")
        self.assertIn("退出安装", seen(ALERT, 2))
        self.assertIn("选择目录", seen(SHOW))
        self.assertIn("自定义安装", seen(HIDE))
        self.assertTrue(any(n.startswith("安装中") for n in seen(NAME)), "the percent label is heard")
        values = [(int(e[7]), int(e[5].rstrip("%"))) for e in events if e[1] == VALUE and e[4] == "安装进度"]
        self.assertGreaterEqual(len(values), 3, values)
        self.assertEqual([v for _, v in values], sorted(v for _, v in values))
        self.assertGreaterEqual(values[-1][1], 95, values)
        self.assertGreaterEqual(min(b[0] - a[0] for a, b in zip(values, values[1:])), 900, "once a second at most")

    def test_an_install_from_the_keyboard_alone(self):
        run = self.start(launch_number=5)
        wid = self.main_window()
        for close in ("Escape", "alt+F4"):  # ask as the close button does; 取消 keeps going
            self.key(wid, close)
            self.assertIsNotNone(e2e.find_window("退出安装", timeout=10), close)
            self.key(e2e.find_window("退出安装"), "Tab", "Tab", "Return")
            self.assertTrue(e2e.wait_gone("退出安装", timeout=6), close)
        # Enter with nothing focused does nothing; then the agreement is cleared.
        self.key(wid, "Return", "Tab", "Tab", "space", "shift+Tab", "Return")
        box = e2e.find_window("提示", timeout=10)
        self.assertIsNotNone(box, "installing without the agreement warns")
        self.key(box, "Tab", "Return")
        self.assertTrue(e2e.wait_gone("提示", timeout=6), "the warning's 确定 from the keyboard")
        # Ticked again; the directory page: its edit, the chooser, then install.
        self.key(wid, "Tab", "space", "Tab", "Tab", "Return")
        time.sleep(1)
        self.key(wid, "Tab", "Tab", "Tab", "Return")
        self.assertEqual(run.wait(120), 0)
        launched = e2e.utf8_lines(os.path.join(e2e.INSTALL_DIR, "launched.txt"))
        self.assertEqual(launched, ['%s\\OrvelLauncher.exe -i "5" -d' % e2e.WIN_INSTALL_DIR])


if __name__ == "__main__":
    e2e.unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
