#!/usr/bin/env python3
"""Reliability campaign: the real OvSetup.exe (local build) under Wine, driven
like e2e_test.py, against the fault server misbehaving on purpose: killed and
restarted mid-download, dropped connections, a server that forgets ranges, a
bad answer, a corrupt partial file, a close during the download, an
unwritable or full package directory, a package that always fails its check,
a manifest endpoint that fails for a while and then heals, and package mirrors (the first
address failing, then all of them). Every case ends by itself within its
own time bound and prints its counted figures; a summary table closes the run.

Usage: reliability_test.py BUILD_DIR [--quick] [unittest arguments]
  --quick  the short version CI runs (fewer kill points, fewer drops,
           shorter watches of the failing check and the failing manifest);
           the full run is the one the README's table is from.
Needs DISPLAY, WINEPREFIX (a prefix of its own) and xdotool, like e2e_test.py.
"""

import hashlib
import os
import subprocess
import sys
import time
import unittest

QUICK = "--quick" in sys.argv
if QUICK:
    sys.argv.remove("--quick")

import harness as e2e  # noqa: E402  (reads BUILD from argv[1])
from harness import (BASE, BOX_OK_BUTTON, CLOSE_BUTTON, INSTALL_DIR, INSTALLER_TXT, PACKAGE_PATH,  # noqa: E402
                     STAGING_DIR)

PARTIAL_PATH = PACKAGE_PATH + ".yw"
PACKAGE_SIZE = 8 * 1024 * 1024
MB = 1024 * 1024
# About 2.6 MB/s: slow enough to stop a download at a chosen byte, fast enough
# that a whole package takes a few seconds.
SLOW = "blob=package&mode=trickle&chunk=131072&delay=50"
EXIT_BOX = "退出安装"

FIGURES = []  # one row per case for the closing table


def stats():
    return dict(kv.split("=") for kv in e2e.get("/_stats").decode().split())


def file_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return -1


class ReliabilityTest(e2e.InstallerCase):
    WORK_PREFIX = "ovrel_"
    SERVER_ARGS = ("--max-life", "3600")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # The stand-in package padded to 8 MB (a PE file ignores what follows it),
        # with a pattern that shows any misplaced byte.
        pad = PACKAGE_SIZE - len(cls.package)
        cls.package += bytes((i * 7 + i // 4099) & 0xFF for i in range(pad))
        cls.md5 = hashlib.md5(cls.package).hexdigest()
        e2e.post("/_put?name=package", cls.package)
        bad = bytearray(cls.package)  # the same length, one byte wrong
        bad[len(bad) // 3] ^= 0xFF
        e2e.post("/_put?name=badpackage", bytes(bad))

    def setUp(self):
        super().setUp()
        self.serve_manifest()
        self.serve_package(SLOW)
        self.started = time.time()
        self.recorded = False
        self.most_notices = 0

    def tearDown(self):
        if not self.recorded:  # a failed or skipped case still gets its row
            try:
                self.record(self.id().rsplit(".", 1)[-1], runs=len(self.runs), result="FAIL or skipped")
            except OSError:
                pass
        super().tearDown()

    # -- helpers ---------------------------------------------------------------
    def watching(self):
        """Counts the failure notices open now; keeps the most seen in the case."""
        self.most_notices = max(self.most_notices, len(self.notices()))

    def wait_partial(self, at_least, run, timeout=60):
        """Waits until the partial file holds at least `at_least` bytes."""
        end = time.time() + timeout
        while time.time() < end:
            if file_size(PARTIAL_PATH) >= at_least:
                return
            self.assertIsNone(run.proc.poll(), "the installer ended during the download")
            time.sleep(0.02)
        self.fail("the partial file never reached %d bytes (has %d)" % (at_least, file_size(PARTIAL_PATH)))

    def kill_at(self, at_least, run):
        """Kills the Windows process once the download passed `at_least`; returns the partial size."""
        self.wait_partial(at_least, run)
        run.kill()  # SIGKILL of the Wine process is the Windows process dying at once
        partial = file_size(PARTIAL_PATH)
        self.assertGreaterEqual(partial, at_least)
        self.assertLess(partial, PACKAGE_SIZE, "killed too late: the download had finished")
        return partial

    def keeps_running(self, run, seconds):
        end = time.time() + seconds
        while time.time() < end:
            self.assertIsNone(run.proc.poll(), "the installer ended")
            self.watching()
            time.sleep(0.5)

    def assert_not_run(self):
        self.assertFalse(os.path.exists(INSTALLER_TXT), "a package ran")

    def next_package_request(self, before, timeout=30, path="/ovinstaller.exe"):
        end = time.time() + timeout
        while time.time() < end:
            requests = self.package_requests(path)
            if len(requests) > before:
                return requests[before]
            time.sleep(0.05)
        self.fail("no new package request")

    def package_requests(self, path="/ovinstaller.exe"):
        return [r for r in e2e.server_log() if r[1] == path]

    def record(self, case, runs, result="pass", note=""):
        s = stats()
        requests = self.package_requests()
        row = {"case": case, "faults": int(s["faults"]), "requests": int(s["requests"]),
               "retries": max(0, len(requests) - runs), "bytes": int(s["bytes"]),
               "time": time.time() - self.started, "result": result, "note": note}
        FIGURES.append(row)
        self.recorded = True
        print("\nFIGURES %(case)s: faults=%(faults)d requests=%(requests)d retries=%(retries)d bytes=%(bytes)d "
              "time=%(time).1fs %(note)s" % row, flush=True)

    def finish_and_check(self, run, timeout=120):
        """The package that runs is byte-identical; then the run is ended (the hand-off is e2e_test's)."""
        self.assertEqual(self.wait_package_ran(run, timeout), self.md5, "the package that ran is not the served one")
        run.kill()

    # -- 1. kill and restart -----------------------------------------------------
    def test_1_killed_at_several_points_resumes_from_the_partial_file(self):
        points = [("middle", PACKAGE_SIZE // 2)] if QUICK else [
            ("early", 256 * 1024), ("middle", PACKAGE_SIZE // 2), ("last MB", PACKAGE_SIZE - MB + 64 * 1024)]
        kills = []
        run = self.install()
        for name, at in points:
            partial = self.kill_at(at, run)
            kills.append((name, partial))
            before = len(self.package_requests())
            run = self.install()
            # The restarted run asks for the rest, from exactly where the file ends.
            self.assertEqual(self.next_package_request(before)[2], "bytes=%d-" % partial, "after the kill at %s" % name)
        self.finish_and_check(run)
        self.record("kill and restart: %s" % ", ".join("%s (K=%d)" % k for k in kills), runs=len(points) + 1,
                    note="kills=%d" % len(kills))

    # -- 2. dropped connections ---------------------------------------------------
    def test_2_dropped_connections_in_a_row_end_in_the_right_package(self):
        drops = 5 if QUICK else 20
        self.serve_package("blob=package&mode=drop&after=20000&after_max=400000&rseed=7&times=%d" % drops)
        run = self.install()
        self.assertEqual(self.wait_package_ran(run, 30 + drops * 8), self.md5)
        run.kill()
        requests = self.package_requests()
        self.assertEqual(len(requests), drops + 1)
        self.assertEqual(requests[0][2], "-")
        self.assertTrue(all(r[2].startswith("bytes=") for r in requests[1:]), "every retry resumes")
        self.assertLessEqual(self.most_notices, 1, "more than one failure notice open at once")
        self.record("dropped connections x%d" % drops, runs=1,
                    note="most failure notices open at once=%d" % self.most_notices)

    # -- 3. server ignores ranges after an interruption -------------------------------
    def test_3_a_server_that_ignores_ranges_restarts_from_zero(self):
        run = self.install()
        partial = self.kill_at(PACKAGE_SIZE // 2, run)
        self.serve_package("blob=package&mode=norange")
        run = self.install()
        self.finish_and_check(run)
        requests = self.package_requests()
        self.assertEqual(requests[-1][2], "bytes=%d-" % partial)
        self.assertGreaterEqual(int(stats()["bytes"]), partial + PACKAGE_SIZE, "the whole body was sent again")
        self.record("server ignores ranges after a kill", runs=2)

    # -- 4. a bad answer ---------------------------------------------------------------
    def test_4_a_bad_answer_is_a_notice_and_the_retry_installs_once_the_server_heals(self):
        # What each kind of bad answer (status, redirect loop, stall) comes to
        # is the HTTP layer's; here one of them, a body 1000 bytes short that
        # claims to be whole, goes through the real window: nothing of it runs.
        self.serve_package("blob=package&mode=badlen&len=%d" % (PACKAGE_SIZE - 1000))
        run = self.install()
        self.wait_notice(run, 30)
        self.assert_not_run()
        self.assertIsNone(run.proc.poll(), "no crash, no exit")
        healed = len(self.package_requests())
        self.serve_package("blob=package")
        self.finish_and_check(run, timeout=30)
        self.assertGreater(len(self.package_requests()), healed, "the window retried")
        self.record("bad answer (wrong length), then the server heals", runs=1)

    # -- 5. corrupt package ---------------------------------------------------------------
    def test_5_a_corrupted_partial_file_is_never_run(self):
        run = self.install()
        partial = self.kill_at(PACKAGE_SIZE // 2, run)
        with open(PARTIAL_PATH, "r+b") as f:  # the disk, not the server, spoilt a byte
            f.seek(partial // 2)
            byte = f.read(1)
            f.seek(partial // 2)
            f.write(bytes([byte[0] ^ 0xFF]))
        self.serve_package("blob=package")
        run = self.install()
        self.wait_notice(run, 30)
        self.assert_not_run()
        # The checksum failed, the file was dropped; the retry downloads it whole.
        self.finish_and_check(run, timeout=30)
        ranges = [r[2] for r in self.package_requests()]
        self.assertEqual(ranges[-2:], ["bytes=%d-" % partial, "-"])
        self.record("corrupt partial file", runs=2)

    # -- 6. close during download ---------------------------------------------------------
    def test_6_close_during_download_ends_at_once_and_keeps_the_partial_file(self):
        run = self.install()
        wid = run.wid
        self.wait_partial(2 * MB, run)
        e2e.click(wid, CLOSE_BUTTON)
        box = e2e.find_window(EXIT_BOX, timeout=10)
        self.assertIsNotNone(box, "the exit box did not appear")
        e2e.click(box, BOX_OK_BUTTON)
        clicked = time.time()
        self.assertEqual(run.wait(10), 0, "the process did not end cleanly")
        took = time.time() - clicked
        self.assertLess(took, 1.0, "the process took %.2f s to end" % took)
        partial = file_size(PARTIAL_PATH)
        self.assertGreater(partial, 0, "the partial file is kept")
        self.assertLess(partial, PACKAGE_SIZE)
        before = len(self.package_requests())
        run = self.install()
        self.finish_and_check(run)
        self.assertEqual(self.package_requests()[before][2], "bytes=%d-" % partial)
        self.record("close during download", runs=2, note="exit took %.2fs" % took)

    # -- 7. unwritable or full package directory ------------------------------------------
    def test_7a_unwritable_package_file(self):
        # Something else holds the name: the file cannot be opened for writing.
        os.makedirs(STAGING_DIR)
        os.makedirs(PARTIAL_PATH)
        run = self.install()
        self.wait_notice(run, 30)
        self.assert_not_run()
        self.assertEqual(self.package_requests(), [], "nothing is fetched that cannot be stored")
        os.rmdir(PARTIAL_PATH)
        self.finish_and_check(run, timeout=30)
        self.record("unwritable package file", runs=1)

    def test_7b_package_directory_is_a_file(self):
        # A file where the staging folder must go: one of a new name is made.
        open(STAGING_DIR, "w").close()
        run = self.install()
        self.assertEqual(run.wait(60), 0)
        self.assertIn(e2e.WIN_STAGING_DIR + "-", e2e.utf8_lines(os.path.join(INSTALL_DIR, "installer-cwd.txt"))[0])
        self.assertTrue(os.path.isfile(STAGING_DIR), "the file in the way is left alone")
        self.record("package directory is a file (another is made)", runs=1)

    def test_7c_full_package_directory(self):
        # The staging folder's volume is 3 MB (see e2e.SmallProgramData).
        small = e2e.SmallProgramData(self.work, "3m")
        self.cleanups.append(small.close)
        if not small.mounted:
            self.skipTest("no tmpfs mount here (needs root)")
        self.serve_package("blob=package")
        run = self.install()
        self.wait_notice(run, 30)
        self.assert_not_run()
        self.assertIsNone(run.proc.poll())
        # Space is freed: the next retry resumes what fitted and installs.
        subprocess.run(["mount", "-o", "remount,size=64m", small.mnt], check=True, capture_output=True)
        partial = file_size(os.path.join(small.staging, "ovinstaller.exe.yw"))
        self.assertEqual(run.wait(60), 0)
        self.assertIn("bytes=%d-" % partial, [r[2] for r in self.package_requests()])
        self.record("full package directory (a 3 MB volume)", runs=1, note="kept %d bytes" % partial)

    # -- 8. a package that always fails its check -----------------------------------------
    def test_8_a_package_that_always_fails_its_check_is_not_fetched_again_and_again(self):
        # The server keeps sending the same wrong bytes: the window backs off
        # at once instead of fetching them every five seconds.
        watch = 45 if QUICK else 180
        most = 3 if QUICK else 5
        self.serve_package("blob=badpackage")
        run = self.install()
        self.keeps_running(run, watch)
        fetched = len(self.package_requests())
        self.assert_not_run()
        run.kill()
        self.assertLessEqual(fetched, most, "fetched %d times in %d s" % (fetched, watch))
        self.assertGreaterEqual(fetched, 2, "the window never tried again")
        self.assertEqual(self.most_notices, 1)
        self.record("package always fails its check, watched %d s" % watch, runs=1,
                    note="fetched %d times, most notices open at once=%d" % (fetched, self.most_notices))

    # -- 9. a manifest endpoint that heals -------------------------------------------------
    def test_9_a_manifest_endpoint_that_heals_leads_to_an_install_without_any_action(self):
        heal = 20 if QUICK else 60
        self.route("/ovinstall.txt", "mode=status&code=503")
        run = self.install()
        self.keeps_running(run, heal)
        self.assert_not_run()
        failed = len([r for r in e2e.server_log() if r[1] == "/ovinstall.txt"])
        self.serve_manifest()  # healed; nobody clicks anything
        healed = time.time()
        self.assertEqual(self.wait_package_ran(run, 150), self.md5)
        took = time.time() - healed
        run.kill()
        self.assertEqual(self.most_notices, 1)
        self.record("manifest endpoint heals after %d s" % heal, runs=1,
                    note="%d failed manifest requests, installed %.1f s after healing" % (failed, took))

    # -- 10. package mirrors ----------------------------------------------------------------
    MIRRORS = ["/m1/ovinstaller.exe", "/m2/ovinstaller.exe"]

    def start_with_mirrors(self, first, second="blob=package"):
        """A manifest naming Url and Url2, serving `first` and `second`; the run keeps a support log."""
        e2e.post("/_put?name=manifest", e2e.manifest_text(BASE + self.MIRRORS[0], self.package) +
                 ("Url2=%s%s\r\n" % (BASE, self.MIRRORS[1])).encode())
        for path, query in zip(self.MIRRORS + [self.MIRRORS[0] + ".minisig"], (first, second, "blob=package")):
            self.route(path, query)  # the first one's signature is intact
        return self.install(env=self.logging_env())

    def mirror_ranges(self):
        return [[r[2] for r in self.package_requests(path)] for path in self.MIRRORS]

    def test_10_a_failing_mirror_hands_over_to_the_next_one_without_a_notice(self):
        # What Url does, the reason logged, Url's requests, whether Url2 resumes the partial file.
        for name, fault, why, tries, resumes in [
                ("500", "mode=status&code=500", "server error", 1, False),
                ("drop mid-file", "blob=package&mode=drop&after=400000", "connection error", 3, True),
                ("corrupt copy", "blob=badpackage", "copy failed its check", 1, False)]:
            with self.subTest(name):
                for run in self.runs:
                    run.kill()
                self.setUp()
                self.finish_and_check(self.start_with_mirrors(fault), timeout=60)
                first, second = self.mirror_ranges()
                self.assertEqual((len(first), first[0], self.most_notices), (tries, "-", 0), (first, second))
                self.assertEqual(second[0].startswith("bytes="), resumes, (first, second))
                # Why an address was left shows nowhere but in the support log,
                # which is what support reads to tell a bad mirror from a bad link.
                self.assertTrue(any(self.MIRRORS[0] in line and self.MIRRORS[1] in line and why in line
                                    for line in self.support_log().splitlines()), why)
        self.record("mirrors: Url fails (500, drop mid-file, corrupt copy), Url2 installs", runs=1)

    def test_11_every_mirror_failing_is_one_notice_the_back_off_then_url_again(self):
        run = self.start_with_mirrors("mode=status&code=500", "mode=status&code=404")
        self.wait_notice(run, 60)
        noticed = time.time()
        self.assertEqual([len(r) for r in self.mirror_ranges()], [1, 1], "one round, each address once")
        self.next_package_request(1, path=self.MIRRORS[0])
        self.assertGreater(time.time() - noticed, 3.5, "the next round came without the back-off")
        asked = [r[1] for r in e2e.server_log() if r[1] in self.MIRRORS]
        self.assertEqual(asked[:3], [self.MIRRORS[0], self.MIRRORS[1], self.MIRRORS[0]], "the new round starts at Url")
        self.route(self.MIRRORS[0], "blob=package")  # heals; no click
        self.finish_and_check(run, timeout=60)
        self.assertEqual(self.most_notices, 1)
        self.record("mirrors: all fail, then Url heals", runs=1)


    # -- 12. a package fetched in parts, killed and restarted ---------------------------
    def test_12_a_package_fetched_in_parts_keeps_its_parts_across_a_kill(self):
        # 20 MiB, each connection paced: the installer splits it into parts.
        big = self.package + bytes((i * 13 + i // 7919) & 0xFF for i in range(12 * MB))
        self.package, self.md5 = big, hashlib.md5(big).hexdigest()
        e2e.post("/_put?name=bigpackage", big)
        self.serve_manifest()
        self.serve_package("blob=bigpackage&rate=2000000")
        journal = PARTIAL_PATH + ".parts"
        run = self.install()
        end = time.time() + 60
        while file_size(journal) <= 0 and time.time() < end:
            time.sleep(0.05)
        time.sleep(2.5)  # the parts write, the journal records them
        run.kill()
        with open(journal) as f:
            kept = [tuple(map(int, line.split()[1:])) for line in f if line.startswith("done ")]
        self.assertGreater(len(kept), 1, "no parts on disk out of order")
        before = len(self.package_requests())
        run = self.install()
        self.finish_and_check(run, timeout=60)
        after = [r[2] for r in self.package_requests()[before:]]
        self.assertTrue(after)
        for rng in after:
            first, _, last = rng[len("bytes="):].partition("-")
            self.assertTrue(rng.startswith("bytes=") and last, "not a closed range: %s" % rng)
            self.assertFalse(any(a <= int(first) < b for a, b in kept), "bytes on disk asked again: %s" % rng)
        self.assertFalse(os.path.exists(journal), "the journal outlived the download")
        self.record("parts: killed mid-way, restarted, %d ranges kept" % len(kept), runs=2,
                    note="requests after the kill=%d" % len(after))

def print_table():
    if not FIGURES:
        return
    print("\n| case | faults injected | requests | retries | bytes | time | result |")
    print("|---|---|---|---|---|---|---|")
    for row in FIGURES:
        print("| %(case)s | %(faults)d | %(requests)d | %(retries)d | %(bytes)d | %(time).1f s | %(result)s |" % row)


if __name__ == "__main__":
    program = unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2, exit=False)
    print_table()
    sys.exit(0 if program.result.wasSuccessful() else 1)
