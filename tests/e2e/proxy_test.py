#!/usr/bin/env python3
"""The system proxy end to end: the local installer under Wine on a network
that refuses direct connections (403 without a Via header), real proxies
started here (tinyproxy; squid asking for a password), the settings written
where Windows keeps them (Wine reads only "DefaultConnectionSettings").
Usage: proxy_test.py BUILD_DIR [unittest arguments]; like e2e_test.py."""

import os
import socket
import struct
import subprocess
import sys
import time
import unittest

import harness as e2e  # reads BUILD from argv[1]
from harness import BASE, NOTICE
USER_CONNECTIONS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections"
MACHINE_CONNECTIONS = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections"
POLICY = "HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
DIRECT, NAMED, SCRIPT = 1, 2, 4


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def reg(*args, check=True):
    subprocess.run(["wine", "reg"] + list(args) + ["/reg:64"], env=e2e.WINE_ENV, check=check,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def connection_settings(flags, proxy="", bypass="", script=""):
    """As Windows writes it: version, counter, flags, three length-prefixed texts."""
    blob = struct.pack("<III", 0x46, 1, flags)
    for text in (proxy, bypass, script):
        data = text.encode("ascii")
        blob += struct.pack("<I", len(data)) + data
    return blob + b"\0" * 32


def set_settings(key, blob):
    reg("add", key, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY", "/d", blob.hex(), "/f")


def clear_settings():
    reg("delete", USER_CONNECTIONS, "/v", "DefaultConnectionSettings", "/f", check=False)
    reg("delete", MACHINE_CONNECTIONS, "/v", "DefaultConnectionSettings", "/f", check=False)
    reg("delete", POLICY, "/v", "ProxySettingsPerUser", "/f", check=False)


def daemon(args, port):
    """A proxy process of ours in the foreground, listening on `port`; ended by its id."""
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(300):
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                return proc
        if proc.poll() is not None:
            break
        time.sleep(0.1)
    stop(proc)
    raise RuntimeError("%s did not listen on %d" % (args[0], port))


def stop(proc):
    proc.terminate()
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def tinyproxy(work, port):
    conf = os.path.join(work, "tinyproxy-%d.conf" % port)
    with open(conf, "w") as f:
        f.write("Port %d\nListen 127.0.0.1\nAllow 127.0.0.1\nViaProxyName \"ovtest\"\nUser nobody\n"
                "Group nogroup\nLogLevel Warning\n" % port)
    return daemon(["tinyproxy", "-d", "-c", conf], port)


def squid_with_password(work, port):
    """Squid that lets nobody through without a user name and password."""
    os.chmod(work, 0o777)
    hashed = subprocess.run(["openssl", "passwd", "-apr1", "secret"], capture_output=True, text=True,
                            check=True, timeout=30).stdout.strip()
    with open(os.path.join(work, "passwd"), "w") as f:
        f.write("ovuser:%s\n" % hashed)
    conf = os.path.join(work, "squid.conf")
    with open(conf, "w") as f:
        f.write("http_port 127.0.0.1:{port}\nauth_param basic program /usr/lib/squid/basic_ncsa_auth {w}/passwd\n"
                "acl authed proxy_auth REQUIRED\nhttp_access allow authed\nhttp_access deny all\ncache deny all\n"
                "pid_filename {w}/squid.pid\naccess_log none\ncache_log {w}/cache.log\ncoredump_dir {w}\n"
                "shutdown_lifetime 0 seconds\n".format(port=port, w=work))
    return daemon(["squid", "-N", "-f", conf], port)


class ProxyTest(e2e.InstallerCase):
    WORK_PREFIX = "ovproxy_"
    PADDING = b"\x55" * 2000000

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        clear_settings()
        cls.addClassCleanup(clear_settings)
        cls.proxy_port = free_port()
        cls.addClassCleanup(stop, tinyproxy(cls.work, cls.proxy_port))

    def setUp(self):
        super().setUp()
        self.serve_manifest()
        self.serve_package("blob=package")
        e2e.get("/_requirevia?on=1")
        clear_settings()

    def run_installer(self):
        # libcurl's own variables name a dead proxy and would send 127.0.0.1
        # direct: the installer must go by the system's settings alone.
        return self.install(launch_number=1, env=self.logging_env({
            "http_proxy": "http://127.0.0.1:9", "HTTPS_PROXY": "http://127.0.0.1:9",
            "ALL_PROXY": "http://127.0.0.1:9", "NO_PROXY": "127.0.0.1"}))

    def failure_detail(self):
        return "; log:\n" + self.support_log()[-3000:]

    def via(self):
        return [line.split("\t") for line in e2e.get("/_via").decode().splitlines()]

    def installs_through_the_proxy(self):
        run = self.run_installer()
        self.assertEqual(self.wait_package_ran(run), self.md5, "the package that ran is not the one served")
        self.assertEqual(run.wait(60), 0)
        seen = self.via()
        self.assertIn("/ovinstaller.exe", [path for path, _ in seen])
        for path, via in seen:
            if path != "/proxy.pac":
                self.assertIn("tinyproxy", via, "%s went around the proxy" % path)

    # -- cases -------------------------------------------------------------------
    def test_a_named_proxy(self):
        set_settings(USER_CONNECTIONS, connection_settings(DIRECT | NAMED, "127.0.0.1:%d" % self.proxy_port,
                                                           "<local>"))
        self.installs_through_the_proxy()

    def test_a_configuration_script_served_over_http(self):
        pac = ("function FindProxyForURL(url, host) {\n"
               "  if (shExpMatch(host, \"127.0.0.1\")) return \"PROXY 127.0.0.1:%d\";\n"
               "  return \"DIRECT\";\n}\n" % self.proxy_port).encode()
        e2e.post("/_put?name=pac", pac)
        e2e.post("/_route?path=/proxy.pac", b"mode=stored&name=pac")  # fetched directly, as WinHTTP does
        set_settings(USER_CONNECTIONS, connection_settings(DIRECT | SCRIPT, script="%s/proxy.pac" % BASE))
        self.installs_through_the_proxy()

    def test_a_bypass_list_naming_the_origin_goes_direct(self):
        e2e.get("/_requirevia?on=0")
        # The proxy is dead: only the bypass can bring the install through.
        set_settings(USER_CONNECTIONS, connection_settings(DIRECT | NAMED, "127.0.0.1:9", "*.example;127.0.0.*"))
        run = self.run_installer()
        self.assertEqual(self.wait_package_ran(run), self.md5)
        self.assertEqual(run.wait(60), 0)
        self.assertTrue(self.via())
        for path, via in self.via():
            self.assertEqual(via, "-", "%s came through a proxy" % path)

    def test_the_machine_wide_policy_takes_the_machines_settings(self):
        set_settings(USER_CONNECTIONS, connection_settings(DIRECT | NAMED, "127.0.0.1:9"))
        set_settings(MACHINE_CONNECTIONS, connection_settings(DIRECT | NAMED, "127.0.0.1:%d" % self.proxy_port))
        reg("add", POLICY, "/v", "ProxySettingsPerUser", "/t", "REG_DWORD", "/d", "0", "/f")
        self.installs_through_the_proxy()

    def test_every_proxy_dead_one_notice_the_back_off_and_no_hang(self):
        dead = free_port()
        set_settings(USER_CONNECTIONS, connection_settings(DIRECT | NAMED, "127.0.0.1:%d" % dead))
        run = self.run_installer()
        self.wait_notice(run, 30)
        self.assertIn("安装失败，请检查网络后重试！", self.notice_texts())
        time.sleep(6)  # a retry has failed again meanwhile: still one notice
        self.assertEqual(len(self.notices()), 1)
        # The proxy comes up: the next scheduled try gets through, no click needed.
        self.addCleanup(stop, tinyproxy(self.work, dead))
        self.assertEqual(self.wait_package_ran(run, timeout=90), self.md5)

    def test_a_proxy_asking_for_credentials_gets_its_own_notice_and_no_password_dialog(self):
        port = free_port()
        self.addCleanup(stop, squid_with_password(self.work, port))
        set_settings(USER_CONNECTIONS, connection_settings(DIRECT | NAMED, "127.0.0.1:%d" % port))
        run = self.run_installer()
        self.wait_notice(run, 30)
        time.sleep(2)
        self.assertIn("代理服务器需要验证，请检查代理设置！", self.notice_texts())
        names = [n for n in (e2e.xdo("getwindowname", wid, check=False).strip()
                          for wid in e2e.xdo("search", "--onlyvisible", "--name", "", check=False).split()) if n]
        self.assertTrue(set(names) <= {"安装澄岳", NOTICE, "OvShadowWnd"}, "unexpected windows: %s" % names)
        self.assertEqual(self.via(), [], "nothing reached the origin")
        self.assertIsNone(run.proc.poll())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
