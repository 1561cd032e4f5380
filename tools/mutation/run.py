#!/usr/bin/env python3
"""Deliberate faults, one at a time: how many of them the test suites catch.

For each fault of the list it replaces an exact snippet of one product file,
rebuilds the selected test binaries incrementally, runs them under Wine, and
restores the file whatever happens (an interrupt included; a run killed
outright is repaired from the saved copy at the next start).

    python3 tools/mutation/run.py --tree /work/wt-mut --faults tools/mutation/faults.txt --out FILE
    python3 tools/mutation/run.py --tree T --faults F --check      # every snippet found? no build
    python3 tools/mutation/run.py ... --out FILE --only ID,ID --update   # those rows again, the rest kept

Selection: the GoogleTest binaries of the fault's layer and of the layers
above it that link it (SELECTION below), two at a time (never two that
send real input to their windows: DESKTOP_INPUT), each with
--gtest_fail_fast; the first failure stops the others. The same for every
run, so runs before and after a change compare.

Verdicts: killed when a test fails, crashes, or runs past its limit (three
times the unmutated binary's own duration plus 60 s, both measured at the
start of the same run, so an unmutated run is always far faster); a failure
counts only when the failing test fails again alone (or the selection fails
again when run once more), since a window test can fail on its own on a
loaded machine. Survived when every selected binary passes; "did not build"
when the mutant does not compile (left out of the rate). A snippet no longer
found is "not found": give the same fault (same id) a new snippet, so that
runs before and after compare per id.
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# Which binaries see a layer's code, the layer's own first (it fails
# fastest), then the layers above it that link it.
SELECTION = {
    "Runtime": ["runtime_tests", "http_tests", "updater_tests", "ui_tests", "app_tests"],
    "Http": ["http_tests", "updater_tests", "app_tests"],
    "Updater": ["updater_tests", "app_tests"],
    "ui": ["ui_tests", "app_tests"],
    "app": ["app_tests"],
}
# Binaries that send real input to their own windows on the one display:
# never two of them at once (ctest keeps them apart the same way), or one
# steals the other's focus and a sound test fails.
DESKTOP_INPUT = {"ui_tests", "app_tests"}
BUILD_TIMEOUT_S = 1200
TIMEOUT_FACTOR = 3
TIMEOUT_SLACK_S = 60


class Fault:
    def __init__(self, fid, path):
        self.id = fid
        self.path = path
        self.meaning = ""
        self.hunks = []  # (find, replace)

    @property
    def layer(self):
        return self.path.split("/", 1)[0]


def parse_faults(text):
    """The list: '[ID] path', then 'meaning: ...', then find:/replace: blocks
    whose lines are indented by four spaces (the snippet is the rest, exactly)."""
    faults, fault, block, target = [], None, None, None

    def close_block():
        nonlocal block, target
        if block is not None and fault is not None:
            body = "\n".join(block)
            if target == "find":
                fault.hunks.append([body, None])
            elif not fault.hunks or fault.hunks[-1][1] is not None:
                raise ValueError("%s: replace: without its find:" % fault.id)
            else:
                fault.hunks[-1][1] = body
        block, target = None, None

    for number, line in enumerate(text.splitlines(), 1):
        if block is not None and (line.startswith("    ") or line == ""):
            if line == "":
                block.append("")
            else:
                block.append(line[4:])
            continue
        if block is not None:
            while block and block[-1] == "":
                block.pop()
        close_block()
        if not line.strip() or line.startswith("#"):
            continue
        m = re.match(r"^\[(\w+)\]\s+(\S+)\s*$", line)
        if m:
            fault = Fault(m.group(1), m.group(2))
            faults.append(fault)
        elif line.startswith("meaning:") and fault:
            fault.meaning = line[len("meaning:"):].strip()
        elif line.rstrip() in ("find:", "replace:") and fault:
            block, target = [], line.rstrip()[:-1]
        else:
            raise ValueError("faults line %d not understood: %r" % (number, line))
    if block is not None:
        while block and block[-1] == "":
            block.pop()
    close_block()
    seen = set()
    for f in faults:
        if f.id in seen:
            raise ValueError("fault id %s used twice" % f.id)
        seen.add(f.id)
        if not f.hunks or any(r is None for _, r in f.hunks):
            raise ValueError("%s: every find: needs a replace:" % f.id)
        if f.layer not in SELECTION:
            raise ValueError("%s: %s is not in a product folder" % (f.id, f.path))
    return faults


def mutate(source, fault):
    """The mutated text, or the reason it cannot be made."""
    text = source
    for find, replace in fault.hunks:
        count = text.count(find)
        if count == 0:
            return None, "not found"
        if count > 1:
            return None, "ambiguous (%d places)" % count
        text = text.replace(find, replace)
    return text, None


class Tree:
    def __init__(self, root):
        self.root = os.path.abspath(root)
        self.out = os.path.join(self.root, "build", "out")
        self.backup_dir = os.path.join(self.root, "build", "mutation-backup")
        self.env = dict(os.environ)
        self.env["WINEPREFIX"] = os.path.join(self.root, "build", "wineprefix")
        self.env["WINEDEBUG"] = "-all"
        self.env["GTEST_FAIL_FAST"] = "1"
        self.env.pop("GTEST_FILTER", None)
        self.children = []  # running children (each in its own process group)

    def repair(self):
        """Puts back any file a killed earlier run left mutated."""
        if not os.path.isdir(self.backup_dir):
            return
        for dirpath, _, files in os.walk(self.backup_dir):
            for name in files:
                saved = os.path.join(dirpath, name)
                rel = os.path.relpath(saved, self.backup_dir)
                shutil.copyfile(saved, os.path.join(self.root, rel))
                os.remove(saved)
                print("repaired %s (left mutated by an earlier run)" % rel, flush=True)

    def start(self, cmd, cwd=None):
        """A child in a process group of its own, its output in a file."""
        out = tempfile.TemporaryFile()
        proc = subprocess.Popen(cmd, cwd=cwd or self.root, env=self.env, stdout=out, stderr=subprocess.STDOUT,
                                start_new_session=True)
        self.children.append(proc)
        return proc, out

    def finish(self, proc, out, kill=False):
        """(returncode, output) of a child, killed first when asked."""
        if kill and proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        proc.wait()
        self.children.remove(proc)
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
        out.close()
        return proc.returncode, text

    def stop_children(self):
        for proc in list(self.children):
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass

    def run(self, cmd, timeout, cwd=None):
        """(returncode or None on time-out, output, seconds)."""
        started = time.monotonic()
        proc, out = self.start(cmd, cwd)
        try:
            proc.wait(timeout=timeout)
            rc, text = self.finish(proc, out)
        except subprocess.TimeoutExpired:
            _, text = self.finish(proc, out, kill=True)
            rc = None
        return rc, text, time.monotonic() - started

    def build(self, targets):
        cmd = ["cmake", "--build", self.out, "-j2", "--target"] + targets
        rc, out, _ = self.run(cmd, BUILD_TIMEOUT_S)
        return rc == 0, out

    def test_command(self, binary, gtest_filter=None):
        exe = os.path.join(self.out, "tests", binary + ".exe")
        cmd = [os.path.join(self.root, "scripts", "wine-run.sh"), exe, "--gtest_color=no", "--gtest_fail_fast"]
        if gtest_filter:
            cmd.append("--gtest_filter=" + gtest_filter)
        return cmd

    def test(self, binary, timeout, gtest_filter=None):
        return self.run(self.test_command(binary, gtest_filter), timeout, cwd=os.path.join(self.out, "tests"))

    def first_failing(self, binaries, limits, jobs):
        """Runs the binaries, `jobs` at a time; at the first one that fails
        (or passes its limit) the others are stopped. (binary, returncode or
        None on time-out, output, seconds) of that one, or None when all pass."""
        waiting = list(binaries)
        running = {}  # binary -> (proc, out, started)
        try:
            while waiting or running:
                while waiting and len(running) < jobs:
                    busy = any(b in DESKTOP_INPUT for b in running)
                    pick = next((b for b in waiting if not (busy and b in DESKTOP_INPUT)), None)
                    if pick is None:
                        break
                    binary = pick
                    waiting.remove(binary)
                    proc, out = self.start(self.test_command(binary), cwd=os.path.join(self.out, "tests"))
                    running[binary] = (proc, out, time.monotonic())
                time.sleep(0.2)
                for binary, (proc, out, started) in list(running.items()):
                    took = time.monotonic() - started
                    if proc.poll() is None and took <= limits[binary]:
                        continue
                    del running[binary]
                    timed_out = proc.poll() is None
                    rc, text = self.finish(proc, out, kill=timed_out)
                    if timed_out or rc != 0:
                        return binary, None if timed_out else rc, text, took
            return None
        finally:
            for proc, out, _ in running.values():
                self.finish(proc, out, kill=True)


def first_failure(output):
    m = re.search(r"^\[  FAILED  \] (\S+)", output, re.M)
    if m:
        return m.group(1)
    if "Unhandled" in output or "page fault" in output:
        return "(crash)"
    return "(exit code)"


def judge(tree, fault, baseline, jobs):
    """killed / survived for a built mutant, with the test that caught it."""
    binaries = SELECTION[fault.layer]
    limits = {b: baseline[b] * TIMEOUT_FACTOR + TIMEOUT_SLACK_S for b in binaries}
    failing = tree.first_failing(binaries, limits, jobs)
    if failing is None:
        return "survived", ""
    binary, rc, out, took = failing
    if rc is None:
        return "killed", "%s: time-out after %.0f s" % (binary, took)
    caught = first_failure(out)
    # Under load a window test can fail on its own: a kill stands when the
    # failing test fails again alone, or a binary fails again when the whole
    # selection is run once more, one binary at a time.
    if not caught.startswith("("):
        rc2, _, _ = tree.test(binary, limits[binary], gtest_filter=caught)
        if rc2 != 0:
            return "killed", "%s: %s" % (binary, caught)
    print("    %s %s failed once and passed alone: the selection runs again" % (binary, caught), flush=True)
    again = tree.first_failing(binaries, limits, 1)
    if again is not None:
        return "killed", "%s: %s" % (again[0], first_failure(again[2]) if again[1] is not None else "time-out")
    return "survived", "(%s failed once, passed twice)" % caught


def all_binaries(faults):
    wanted = set()
    for f in faults:
        wanted.update(SELECTION[f.layer])
    order = ["runtime_tests", "http_tests", "updater_tests", "ui_tests", "app_tests"]
    return [b for b in order if b in wanted]


def measure_baseline(tree, binaries):
    ok, out = tree.build(binaries)
    if not ok:
        sys.exit("the unmutated tree does not build:\n" + out[-4000:])
    baseline = {}
    for binary in binaries:
        for attempt in (1, 2):
            rc, out, took = tree.test(binary, 3600)
            if rc == 0:
                break
            print("baseline %s failed (attempt %d): %s" % (binary, attempt, first_failure(out)), flush=True)
        else:
            sys.exit("the unmutated %s fails twice; a kill would mean nothing:\n%s" % (binary, out[-4000:]))
        baseline[binary] = took
        print("baseline %-14s %6.1f s" % (binary, took), flush=True)
    return baseline


def write_report(path, faults, results, baseline, started):
    counted = [r for r in results if r["status"] in ("killed", "survived")]
    killed = sum(1 for r in counted if r["status"] == "killed")
    lines = ["# Mutation run", "",
             "Tree: %s (commit %s), %s, %.0f min." % (results_meta["tree"], results_meta["commit"],
                                                      time.strftime("%Y-%m-%d %H:%M", time.localtime(started)),
                                                      (time.time() - started) / 60), "",
             "Kill rate: **%d / %d** (%.0f %%) of the faults that built; %d did not build, %d not found." % (
                 killed, len(counted), 100.0 * killed / len(counted) if counted else 0.0,
                 sum(1 for r in results if r["status"] == "did not build"),
                 sum(1 for r in results if r["status"] in ("not found",) or r["status"].startswith("ambiguous"))),
             "", "Unmutated binaries: " + ", ".join("%s %.0f s" % (b, t) for b, t in baseline.items()) + ".", "",
             "| id | file | fault | result | caught by |", "|---|---|---|---|---|"]
    for r in results:
        lines.append("| %s | %s | %s | %s | %s |" % (r["id"], r["file"], r["meaning"].replace("|", "\\|"),
                                                    r["status"], r["detail"].replace("|", "\\|")))
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.splitext(path)[0] + ".json", "w", encoding="utf-8") as f:
        json.dump({"meta": results_meta, "baseline": baseline, "results": results}, f, indent=1, ensure_ascii=False)


results_meta = {}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tree", required=True, help="the worktree to mutate (built in build/out)")
    parser.add_argument("--faults", required=True, help="the fault list")
    parser.add_argument("--out", help="where the results go (Markdown; a .json beside it)")
    parser.add_argument("--only", help="comma-separated fault ids")
    parser.add_argument("--check", action="store_true", help="only say whether each snippet is found")
    parser.add_argument("--jobs", type=int, default=2, help="test binaries run at once (default 2)")
    parser.add_argument("--update", action="store_true",
                        help="with --only: replace those faults' rows in the results already in --out")
    args = parser.parse_args()

    with open(args.faults, encoding="utf-8") as f:
        faults = parse_faults(f.read())
    order = [f.id for f in faults]
    earlier = []
    if args.update and args.out and os.path.exists(os.path.splitext(args.out)[0] + ".json"):
        with open(os.path.splitext(args.out)[0] + ".json", encoding="utf-8") as f:
            earlier = json.load(f)["results"]
    if args.only:
        wanted = set(args.only.split(","))
        faults = [f for f in faults if f.id in wanted]
    tree = Tree(args.tree)
    tree.repair()

    if args.check:
        bad = 0
        for fault in faults:
            with open(os.path.join(tree.root, fault.path), encoding="utf-8", newline="") as f:
                _, why = mutate(f.read(), fault)
            print("%-5s %-32s %s" % (fault.id, fault.path, why or "ok"))
            bad += why is not None
        return 1 if bad else 0
    if not args.out:
        parser.error("--out is needed for a run")
    if not os.environ.get("DISPLAY"):
        # The window tests need a display: the whole run goes on one.
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", sys.executable] + sys.argv)

    def interrupted(signum, frame):
        raise KeyboardInterrupt()
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGHUP, interrupted)

    started = time.time()
    results_meta["tree"] = tree.root
    results_meta["commit"] = subprocess.run(["git", "-C", tree.root, "rev-parse", "--short", "HEAD"],
                                            capture_output=True, text=True).stdout.strip()
    # One wineserver for the whole run, ended on the way out.
    subprocess.run(["wineserver", "-p"], env=tree.env, stderr=subprocess.DEVNULL)
    results = []
    try:
        baseline = measure_baseline(tree, all_binaries(faults))
        for fault in faults:
            path = os.path.join(tree.root, fault.path)
            with open(path, encoding="utf-8", newline="") as f:
                mutated, why = mutate(f.read(), fault)
            record = {"id": fault.id, "file": fault.path, "meaning": fault.meaning, "detail": ""}
            t0 = time.monotonic()
            if why:
                record["status"] = why
            else:
                saved = os.path.join(tree.backup_dir, fault.path)
                os.makedirs(os.path.dirname(saved), exist_ok=True)
                shutil.copyfile(path, saved)
                try:
                    with open(path, "w", encoding="utf-8", newline="") as f:
                        f.write(mutated)
                    ok, out = tree.build(SELECTION[fault.layer])
                    if not ok:
                        record["status"] = "did not build"
                        errors = [l for l in out.splitlines() if "error:" in l]
                        record["detail"] = errors[0][-160:] if errors else ""
                    else:
                        record["status"], record["detail"] = judge(tree, fault, baseline, args.jobs)
                finally:
                    # Byte for byte, with a new time stamp: the next build recompiles it.
                    shutil.copyfile(saved, path)
                    os.remove(saved)
            record["seconds"] = round(time.monotonic() - t0)
            results.append(record)
            if earlier:
                fresh = {r["id"]: r for r in results}
                kept = {r["id"]: r for r in earlier if r["id"] not in fresh}
                kept.update(fresh)
                rows = [kept[i] for i in order if i in kept]
            else:
                rows = results
            print("%-5s %-14s %4d s  %s" % (fault.id, record["status"], record["seconds"], record["detail"]),
                  flush=True)
            write_report(args.out, faults, rows, baseline, started)
    except KeyboardInterrupt:
        tree.stop_children()
        print("interrupted: the tree is restored; partial results in %s" % args.out, flush=True)
        return 130
    finally:
        subprocess.run(["wineserver", "-k"], env=tree.env, stderr=subprocess.DEVNULL)
    # Leave the tree built as it is checked out.
    tree.build(all_binaries(faults))
    return 0


if __name__ == "__main__":
    sys.exit(main())
