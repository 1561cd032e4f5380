#!/usr/bin/env bash
# Installer benchmark: the installer as shipped against a minimal Win32 window
# program (bench/min_window.cpp) and against curl.exe (same libcurl), under the
# same Wine, in one invocation.
#
#   bench/run_installer_bench.sh     (builds what it needs in build/out first)
#
# 1. First paint: time from process creation to the window's first paint,
#    median of OV_BENCH_RUNS starts alternating installer, minimal, installer...
#    after one discarded warm-up start of each; goal: installer / minimal <= 1.3.
#    Measured from outside by bench/paint_probe.cpp: the probe starts the
#    program with CreateProcess, takes its creation time from GetProcessTimes,
#    polls (1 ms) for its visible top-level window by title and pid, and
#    watches the window's update region: showing a window makes it non-empty,
#    the first BeginPaint empties it ("paint start"). A WM_NULL sent then
#    returns once the window's thread is back at its message loop, i.e. after
#    the first paint handler has drawn and returned ("paint end", the compared
#    figure). The minimal window also records its first WM_PAINT and its entry
#    with its own clock; the probe's "paint start" for it is printed beside
#    that as a check of the method. The installer, run with OV_STARTUP_TRACE,
#    records the end of each start-up phase (time, working set) itself; the
#    probe prints their medians as the split of its start-up. What is not
#    included: the compositor's copy to the X server, the same for both.
# 2. Peak working set (PeakWorkingSetSize; Wine reports no private bytes) of
#    the installer across a real install of an OV_BENCH_SIZE (default 200 MB)
#    package from the local server, taken when the package has arrived,
#    been verified and been started (its stand-in writes its command line to
#    OV_STANDIN_STARTED, from which the run also learns the directory the
#    installer chose, rather than assuming one), and
#    over the installer's whole life; beside the minimal window's peak over
#    5 s after its first paint. Also the largest working set seen in the 20 ms
#    samples (the peak's difference to it is made of moments shorter than a
#    sample). The package is the stand-in installer padded to the size (a PE
#    file ignores bytes after its end). "立即安装" is clicked with xdotool as a
#    user would.
# 3. Download throughput of the installer itself against curl.exe on the same
#    file from the same server, OV_BENCH_DL_RUNS (default 7) runs alternating:
#    a fresh installer start, a real click, and the server's own timing of the
#    package request (arrival to last byte, /_timing); curl.exe writes into the
#    same folder. Nothing queries the server while a download runs (the
#    finished package is awaited on the file system): a request to the
#    single-process test server competes with the download it measures.
# 4. Size of the product executable (OV_BENCH_OUT/OvSetup.exe, shipped without
#    its debug information) after x86_64-w64-mingw32-strip, against 1.7 MiB
#    (the skin carries every image at 1x and 2x).
#
# Settings: OV_BENCH_OUT (build tree, default build/out), OV_BENCH_TOOLS (where
# min_window.exe and paint_probe.exe are, default OV_BENCH_OUT/bench),
# OV_BENCH_BUILD=0 (use what is built), OV_BENCH_RUNS (default 15),
# OV_BENCH_DL_RUNS, OV_BENCH_SIZE (bytes), OV_BENCH_SCALE (display scale in
# per cent, default 100; another value sets the prefix's LogPixels for the
# run, which restarts its Wine server, and puts 96 back at the end),
# WINEPREFIX (default build/wineprefix; the run resets the installer's ini,
# registry value and the install folder it used in it). Needs a display
# (1100 x 740 at 200 %); without DISPLAY it runs itself under xvfb-run.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
fi
BUILD=${OV_BUILD_DIR:-$ROOT/build}
DEPS=$BUILD/deps
OUT=${OV_BENCH_OUT:-$BUILD/out}
TOOLS=${OV_BENCH_TOOLS:-$OUT/bench}
RUNS=${OV_BENCH_RUNS:-15}
DL_RUNS=${OV_BENCH_DL_RUNS:-7}
SIZE=${OV_BENCH_SIZE:-200000000}
SCALE=${OV_BENCH_SCALE:-100}
export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix}
export WINEDEBUG=-all LANG=zh_CN.UTF-8
TITLE='安装澄岳'
MIN_TITLE='OvBench minimal window'
WORK=$(mktemp -d /tmp/ovinstbench.XXXXXX)
SERVER_PID=
PROBE_PID=

# Wine's server for this prefix is stopped at the end only if this run
# started it: someone else may be using the same prefix.
wine_server_running() {
  local id s
  id=server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")
  for s in /tmp/.wine-"$(id -u)"/"$id"/socket /tmp/wine-*/"$id"/socket; do
    [ -S "$s" ] && return 0
  done
  return 1
}
OWN_WINESERVER=1
wine_server_running && OWN_WINESERVER=0

# The display scale is read when Wine's server starts: set, then restarted.
set_scale() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
if [ "$SCALE" != 100 ]; then
  if [ "$OWN_WINESERVER" = 0 ]; then
    echo "OV_BENCH_SCALE needs the prefix to itself (its Wine server restarts): another one is running" >&2
    exit 1
  fi
  set_scale $((96 * SCALE / 100))
fi

cleanup() {
  [ -n "$PROBE_PID" ] && kill "$PROBE_PID" 2>/dev/null || true
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null || true
  [ "$SCALE" != 100 ] && set_scale 96
  [ "$OWN_WINESERVER" = 1 ] && wineserver -k 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
mib() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

if [ "${OV_BENCH_BUILD:-1}" != 0 ]; then
  "$ROOT/scripts/setup.sh" >/dev/null
  cmake --build "$OUT" --target OvSetup OvSetupLocal OrvelLauncher ovinstaller min_window paint_probe -j 2 >/dev/null
fi

# Programs in a folder of their own: nothing ("ovinstaller.exe", "ovmain.dll")
# beside the installer that would change its course.
mkdir -p "$WORK/inst"
cp "$OUT/local/OvSetup.exe" "$WORK/inst/OvSetup.exe"
cp "$TOOLS/min_window.exe" "$TOOLS/paint_probe.exe" "$WORK/"
WIN_WORK="Z:${WORK//\//\\}"

# --- the local server: manifest and the padded package -------------------------
PORT=$(sed -n 's/^OV_E2E_PORT:STRING=//p' "$OUT/CMakeCache.txt")
PORT=${PORT:-18931}
cp "$OUT/standins/ovinstaller.exe" "$WORK/package.exe"
PAD=$((SIZE - $(stat -c %s "$WORK/package.exe")))
[ "$PAD" -gt 0 ] && head -c "$PAD" /dev/zero | tr '\0' '\125' >> "$WORK/package.exe"
PKG_SIZE=$(stat -c %s "$WORK/package.exe")
MD5=$(md5sum "$WORK/package.exe" | cut -d' ' -f1)
# A release as the publisher signs one: the version the server's signatures
# name, and an expiry (a signed installer refuses a manifest without one).
printf '[Install]\r\nUrl=http://127.0.0.1:%s/ovinstaller.exe\r\nSize=%s\r\nMd5=%s\r\nVersion=1.0.0\r\nExpires=%s\r\n' \
  "$PORT" "$PKG_SIZE" "$MD5" "$(date -u -d '+1 day' +%Y-%m-%dT%H:%M:%SZ)" > "$WORK/manifest.txt"

# The installer verifies what it is served: the server signs it with the test key.
python3 "$ROOT/tests/Http/server/fault_server.py" "$WORK/port" --port "$PORT" --idle 900 \
  --sign-key "$BUILD/keys/test.key" 2>"$WORK/server.err" &
SERVER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; kill -0 "$SERVER_PID" 2>/dev/null || break; sleep 0.1; done
if [ ! -s "$WORK/port" ]; then
  echo "the local server could not listen on port $PORT (in use by another run?)" >&2
  cat "$WORK/server.err" >&2
  exit 1
fi
BASE=http://127.0.0.1:$PORT
curl -sf -X POST --data-binary @"$WORK/manifest.txt" "$BASE/_put?name=manifest" >/dev/null
curl -sf -X POST --data-binary @"$WORK/package.exe" "$BASE/_put?name=package" >/dev/null
curl -sf -X POST --data-binary 'mode=stored&name=manifest' "$BASE/_route?path=/ovinstall.txt" >/dev/null
curl -sf -X POST --data-binary 'blob=package' "$BASE/_route?path=/ovinstaller.exe" >/dev/null

# --- a machine without an earlier installation ------------------------------------
DRIVE_C=$WINEPREFIX/drive_c
# Where the installer put the package's files, once a run has shown it (the
# directory the installer gave the package; see installed_dir).
INSTALL_DIR=
# The download lands in the installer's staging folder.
STAGING_DIR="$DRIVE_C/ProgramData/OrvelSetup"
reset_machine() {
  rm -f "$DRIVE_C/ProgramData/OrvelLaucher.ini"
  wine reg delete 'HKLM\SOFTWARE\OrvelLauncher' /f /reg:32 >/dev/null 2>&1 || true
  [ -n "$INSTALL_DIR" ] && rm -rf "$INSTALL_DIR"
  rm -rf "$STAGING_DIR" "$STAGING_DIR"-*
}
reset_machine
# The package stand-in's record of its start: its command line, which holds
# the directory the installer chose ("/unpack=DIR /launch=off").
export OV_STANDIN_STARTED="$WIN_WORK\\started.txt"
installed_dir() {
  local dir
  dir=$(tr -d '\r' < "$WORK/started.txt" | sed -n 's|.* /unpack=\(.*\) /launch=off.*|\1|p')
  [ -n "$dir" ] && winepath -u "$dir" 2>/dev/null
}

# Clicks "立即安装" (btn_install, centred at 269,259 of the 540 x 355 design,
# so at the same fraction of the window at any scale). The window found by
# the search may be gone or not yet mapped when asked for its geometry
# (BadWindow): looked up again until one answers.
click_install() {
  local wid geo
  for _ in $(seq 100); do
    wid=$(xdotool search --onlyvisible --name "^$TITLE\$" 2>/dev/null | head -n 1)
    if [ -n "$wid" ] && geo=$(xdotool getwindowgeometry --shell "$wid" 2>/dev/null); then
      eval "$geo"
      xdotool mousemove $((X + WIDTH * 269 / 540)) $((Y + HEIGHT * 259 / 355)) click 1 2>/dev/null && return 0
    fi
    read -rt 0.2 -u 9 || true
  done
  echo "no install window to click" >&2
  return 1
}
exec 9<> <(:)  # read -t on a pipe nobody writes: a short sleep without starting a process

probe() { OV_WINE_DIRECT=1 "$ROOT/scripts/wine-run.sh" "$WORK/paint_probe.exe" "$@"; }

echo "== installer benchmark: $(wine --version), WINEPREFIX=$WINEPREFIX, display scale $SCALE %, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "   (other processes on this machine disturb every figure; the load is printed again at the end)"
echo
echo "-- 1. process creation to first paint (ms), $RUNS runs each, alternating"
OV_STARTUP_TRACE="$WIN_WORK\\trace.txt" probe paint "$RUNS" "$WIN_WORK\\self.txt" "$WIN_WORK\\min_window.exe" "$MIN_TITLE" \
  "$WIN_WORK\\inst\\OvSetup.exe" "$TITLE" | tr -d '\r' | tee "$WORK/paint.txt"
PAINT_LINE=$(grep '^median first paint (end)' "$WORK/paint.txt")
PAINT_RATIO=${PAINT_LINE##* }

echo
echo "-- 2. peak working set"
probe memory "$MIN_TITLE" - 5 "$WIN_WORK\\min_window.exe" | tr -d '\r' > "$WORK/min_mem.txt"
MIN_PEAK=$(sed -n 's/^peak_life //p' "$WORK/min_mem.txt")
[ -n "$MIN_PEAK" ] || { echo "minimal window: no memory figure" >&2; cat "$WORK/min_mem.txt" >&2; exit 1; }

reset_machine
curl -sf "$BASE/_clear" >/dev/null
rm -f "$WORK/started.txt"
probe memory "$TITLE" "$OV_STANDIN_STARTED" 300 "$WIN_WORK\\inst\\OvSetup.exe" > "$WORK/inst_mem.txt" 2>&1 &
PROBE_PID=$!
for _ in $(seq 600); do grep -q '^painted' "$WORK/inst_mem.txt" && break; sleep 0.1; done
click_install
set +e
wait "$PROBE_PID"
PROBE_RC=$?
set -e
PROBE_PID=
tr -d '\r' < "$WORK/inst_mem.txt" > "$WORK/inst_mem.clean"
INST_PEAK_DL=$(sed -n 's/^peak_at_file //p' "$WORK/inst_mem.clean")
INST_PEAK=$(sed -n 's/^peak_life //p' "$WORK/inst_mem.clean")
INST_SAMPLED=$(sed -n 's/^max_sampled //p' "$WORK/inst_mem.clean")
DL_SECONDS=$(sed -n 's/^seconds_to_file //p' "$WORK/inst_mem.clean")
INST_EXIT=$(sed -n 's/^exit //p' "$WORK/inst_mem.clean")
PACKAGE_GETS=$(curl -s "$BASE/_log" | grep -c '/ovinstaller.exe' || true)
if [ "$PROBE_RC" != 0 ] || [ -z "$INST_PEAK_DL" ]; then
  echo "installer run failed (probe exit $PROBE_RC):" >&2
  cat "$WORK/inst_mem.clean" >&2
  exit 1
fi
INSTALL_DIR=$(installed_dir) || true
[ -n "$INSTALL_DIR" ] || { echo "the package's start record names no directory" >&2; exit 1; }
echo "minimal window, 5 s after its first paint:  $MIN_PEAK bytes ($(mib "$MIN_PEAK"))"
echo "installer, click to package verified and started (${DL_SECONDS} s, $PACKAGE_GETS package request(s), $PKG_SIZE bytes):"
echo "                                             $INST_PEAK_DL bytes ($(mib "$INST_PEAK_DL")), ratio $(ratio "$INST_PEAK_DL" "$MIN_PEAK")"
echo "installer, whole life (exit code $INST_EXIT):     $INST_PEAK bytes ($(mib "$INST_PEAK")), ratio $(ratio "$INST_PEAK" "$MIN_PEAK")"
echo "installer, largest 20 ms sample:             $INST_SAMPLED bytes ($(mib "$INST_SAMPLED")), ratio $(ratio "$INST_SAMPLED" "$MIN_PEAK")"
reset_machine

echo
echo "-- 3. download throughput: the installer itself vs curl.exe, $DL_RUNS runs each, alternating (server's timing)"
cp "$DEPS/curl/bin/curl.exe" "$WORK/curl.exe"
# The server's timing of the last request of exactly this path (not its signature's).
server_seconds() { curl -s "$BASE/_timing" | awk -F '\t' -v p="$1" '$1 == p { t = $3 } END { print t }'; }
: > "$WORK/dl.inst"; : > "$WORK/dl.curl"
# Before each download: the previous one's files written out and its process
# gone, so that neither run pays for the other.
settle() { sync; read -rt 1 -u 9 || true; }
for i in $(seq "$DL_RUNS"); do
  reset_machine; settle
  OV_WINE_DIRECT=1 "$ROOT/scripts/wine-run.sh" "$WORK/inst/OvSetup.exe" >/dev/null 2>&1 &
  INST_PID=$!
  timeout 30 xdotool search --sync --onlyvisible --name "^$TITLE\$" >/dev/null 2>&1 || true
  read -rt 0.5 -u 9 || true  # the channels start after the first paint
  click_install
  # The package gets its final name once it has arrived and been checked.
  for _ in $(seq 6000); do [ -e "$STAGING_DIR/ovinstaller.exe" ] && break; read -rt 0.01 -u 9 || true; done
  [ -e "$STAGING_DIR/ovinstaller.exe" ] || { echo "installer run $i: no package" >&2; exit 1; }
  kill "$INST_PID" 2>/dev/null || true
  wait "$INST_PID" 2>/dev/null || true
  ti=$(server_seconds /ovinstaller.exe)
  rm -f "$STAGING_DIR"/*; settle
  # The same disk and folder as the installer's download.
  OV_WINE_DIRECT=1 "$ROOT/scripts/wine-run.sh" "$WORK/curl.exe" -s -o 'C:\ProgramData\OrvelSetup\curl.bin' "$BASE/ovinstaller.exe"
  [ "$(stat -c %s "$STAGING_DIR/curl.bin")" = "$PKG_SIZE" ] || { echo "curl.exe run $i: wrong size" >&2; exit 1; }
  tc=$(server_seconds /ovinstaller.exe)
  echo "$ti" >> "$WORK/dl.inst"; echo "$tc" >> "$WORK/dl.curl"
  awk -v a="$ti" -v b="$tc" -v n="$PKG_SIZE" -v i="$i" 'BEGIN {
    printf "run %d: installer %.3f s (%.1f MB/s), curl.exe %.3f s (%.1f MB/s)\n", i, a, n / a / 1e6, b, n / b / 1e6 }'
done
reset_machine
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
DL_INST=$(median < "$WORK/dl.inst"); DL_CURL=$(median < "$WORK/dl.curl")
DL_RATIO=$(awk -v a="$DL_INST" -v b="$DL_CURL" 'BEGIN { printf "%.2f", b / a }')
awk -v a="$DL_INST" -v b="$DL_CURL" -v n="$PKG_SIZE" 'BEGIN {
  printf "median: installer %.1f MB/s, curl.exe %.1f MB/s, ratio installer/curl.exe %.2f\n", n / a / 1e6, n / b / 1e6, b / a }'

echo
echo "-- 4. stripped executable"
x86_64-w64-mingw32-strip -o "$WORK/OvSetup.stripped.exe" "$OUT/OvSetup.exe"
STRIPPED=$(stat -c %s "$WORK/OvSetup.stripped.exe")
echo "$OUT/OvSetup.exe: $(stat -c %s "$OUT/OvSetup.exe") bytes as built, $STRIPPED bytes ($(mib "$STRIPPED")) stripped"

echo
echo "== summary"
awk -v r="$PAINT_RATIO" 'BEGIN { printf "first paint ratio installer/minimal %.2f  (goal <= 1.3: %s)\n", r, (r <= 1.3) ? "met" : "NOT met" }'
awk -v r="$(ratio "$INST_PEAK_DL" "$MIN_PEAK")" -v a="$(mib "$INST_PEAK_DL")" -v b="$(mib "$MIN_PEAK")" -v mb="$((SIZE / 1000000))" 'BEGIN {
  printf "peak working set during the %d MB download: %s vs minimal window %s, ratio %.2f  (goal <= 1.6: %s)\n", mb, a, b, r, (r <= 1.6) ? "met" : "NOT met" }'
awk -v r="$DL_RATIO" 'BEGIN { printf "download throughput installer/curl.exe %.2f  (goal >= 1.0: %s)\n", r, (r >= 1.0) ? "met" : "NOT met" }'
awk -v s="$STRIPPED" 'BEGIN { printf "stripped executable %.2f MiB  (goal < 1.7 MiB with the skin at 1x and 2x: %s)\n", s / 1048576, (s < 1782579) ? "met" : "NOT met" }'
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
