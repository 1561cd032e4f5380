#!/usr/bin/env bash
# Parallel download benchmark: the installer itself (a fresh start, a real
# click on "立即安装", the package fetched, checked and renamed) against
# curl.exe on one connection (same libcurl), on the same 20 MB package from
# the local test server, alternating, OV_BENCH_PAR_RUNS runs each (default 3):
#
#   a. every connection paced to OV_BENCH_PAR_RATE bytes/s (default 2000000;
#      the server's per-connection pacing, like a route or CDN that limits
#      what one connection gets): goal installer >= 3 x curl.exe;
#   b. plain loopback, no pacing: goal installer >= 1.0 x curl.exe.
#
# The figure is the server's own view: from the arrival of the first package
# request to the last body byte of any of them (/_timing), so several
# requests of one download count as one span. Peak working set of the
# installer over a whole install of the paced package, once fetching in
# parts and once from a server that serves no ranges (one connection, as
# before parts existed), from bench/paint_probe.cpp.
#
#   bench/run_parallel_bench.sh     (builds what it needs in build/out first)
#
# Settings: OV_BENCH_OUT, OV_BENCH_BUILD=0, OV_BENCH_PAR_RUNS, OV_BENCH_PAR_SCENARIOS
# ("paced plain"), OV_BENCH_PAR_MEMORY=0 (no memory figures),
# OV_BENCH_PAR_SIZE (bytes, default 20000000), OV_BENCH_PAR_RATE, WINEPREFIX
# (default build/wineprefix; the run resets the installer's ini, registry
# value and install folder in it). Needs a display; without DISPLAY it runs
# itself under xvfb-run. Uses the build's OV_E2E_PORT (the local build's
# manifest address): not at the same time as that tree's end-to-end tests.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
BUILD=${OV_BUILD_DIR:-$ROOT/build}
DEPS=$BUILD/deps
OUT=${OV_BENCH_OUT:-$BUILD/out}
RUNS=${OV_BENCH_PAR_RUNS:-3}
SIZE=${OV_BENCH_PAR_SIZE:-20000000}
RATE=${OV_BENCH_PAR_RATE:-2000000}
export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix}
export WINEDEBUG=-all LANG=zh_CN.UTF-8
TITLE='安装澄岳'
WORK=$(mktemp -d /tmp/ovparbench.XXXXXX)
SERVER_PID=
INST_PID=
PROBE_PID=
cleanup() {
  [ -n "$PROBE_PID" ] && kill "$PROBE_PID" 2>/dev/null || true
  [ -n "$INST_PID" ] && kill "$INST_PID" 2>/dev/null || true
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

if [ "${OV_BENCH_BUILD:-1}" != 0 ]; then
  "$ROOT/scripts/setup.sh" >/dev/null
  cmake --build "$OUT" --target OvSetupLocal OrvelLauncher ovinstaller paint_probe -j 2 >/dev/null
fi
mkdir -p "$WORK/inst"
cp "$OUT/local/OvSetup.exe" "$WORK/inst/OvSetup.exe"
cp "$OUT/bench/paint_probe.exe" "$DEPS/curl/bin/curl.exe" "$WORK/"
WIN_WORK="Z:${WORK//\//\\}"

PORT=$(sed -n 's/^OV_E2E_PORT:STRING=//p' "$OUT/CMakeCache.txt")
PORT=${PORT:-18931}
cp "$OUT/standins/ovinstaller.exe" "$WORK/package.exe"
PAD=$((SIZE - $(stat -c %s "$WORK/package.exe")))
[ "$PAD" -gt 0 ] && head -c "$PAD" /dev/urandom >> "$WORK/package.exe"
PKG_SIZE=$(stat -c %s "$WORK/package.exe")
MD5=$(md5sum "$WORK/package.exe" | cut -d' ' -f1)
printf '[Install]\r\nUrl=http://127.0.0.1:%s/ovinstaller.exe\r\nSize=%s\r\nMd5=%s\r\nVersion=1.0.0\r\nExpires=%s\r\n' \
  "$PORT" "$PKG_SIZE" "$MD5" "$(date -u -d '+1 day' +%Y-%m-%dT%H:%M:%SZ)" > "$WORK/manifest.txt"
python3 "$ROOT/tests/Http/server/fault_server.py" "$WORK/port" --port "$PORT" --idle 900 \
  --sign-key "$BUILD/keys/test.key" 2>"$WORK/server.err" &
SERVER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; kill -0 "$SERVER_PID" 2>/dev/null || break; sleep 0.1; done
[ -s "$WORK/port" ] || { echo "the local server could not listen on port $PORT" >&2; cat "$WORK/server.err" >&2; exit 1; }
BASE=http://127.0.0.1:$PORT
curl -sf -X POST --data-binary @"$WORK/manifest.txt" "$BASE/_put?name=manifest" >/dev/null
curl -sf -X POST --data-binary @"$WORK/package.exe" "$BASE/_put?name=package" >/dev/null
curl -sf -X POST --data-binary 'mode=stored&name=manifest' "$BASE/_route?path=/ovinstall.txt" >/dev/null
serve() { curl -sf -X POST --data-binary "$1" "$BASE/_route?path=/ovinstaller.exe" >/dev/null; }

DRIVE_C=$WINEPREFIX/drive_c
STAGING_DIR="$DRIVE_C/ProgramData/OrvelSetup"
reset_machine() {
  rm -f "$DRIVE_C/ProgramData/OrvelLaucher.ini"
  wine reg delete 'HKLM\SOFTWARE\OrvelLauncher' /f /reg:32 >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX/drive_d/欧维网络" "$STAGING_DIR" "$STAGING_DIR"-*
}
exec 9<> <(:)
settle() { sync; read -rt 1 -u 9 || true; }
# First arrival to last byte of every package request since the last /_clear.
span() { curl -s "$BASE/_timing" | awk -F '\t' '$1 == "/ovinstaller.exe" {
  if (n == 0 || $4 < a) a = $4; if ($5 > e) e = $5; n++ } END { printf "%.3f %d\n", e - a, n }'; }
# "立即安装" (btn_install) is centred at 269,259 in the window. The window
# found by the search may be gone or not yet mapped when asked for its
# geometry (BadWindow): looked up again until one answers.
click() {
  local wid geo
  for _ in $(seq 150); do
    wid=$(xdotool search --onlyvisible --name "^$TITLE\$" 2>/dev/null | head -n 1) || true
    [ -n "$wid" ] && { read -rt 0.5 -u 9 || true; }  # the channels start after the first paint
    if [ -n "$wid" ] && geo=$(xdotool getwindowgeometry --shell "$wid" 2>/dev/null); then
      eval "$geo"
      xdotool mousemove $((X + 269)) $((Y + 259)) click 1 2>/dev/null && return 0
    fi
    read -rt 0.2 -u 9 || true
  done
  echo "no install window to click" >&2
  return 1
}
installer_run() {
  reset_machine; settle; curl -s "$BASE/_clear" >/dev/null
  OV_WINE_DIRECT=1 "$ROOT/scripts/wine-run.sh" "$WORK/inst/OvSetup.exe" >/dev/null 2>&1 &
  INST_PID=$!
  click
  for _ in $(seq 12000); do [ -e "$STAGING_DIR/ovinstaller.exe" ] && break; read -rt 0.01 -u 9 || true; done
  [ -e "$STAGING_DIR/ovinstaller.exe" ] || { echo "installer: no package" >&2; exit 1; }
  [ "$(md5sum < "$STAGING_DIR/ovinstaller.exe" | cut -d' ' -f1)" = "$MD5" ] || { echo "installer: wrong package" >&2; exit 1; }
  kill "$INST_PID" 2>/dev/null || true; wait "$INST_PID" 2>/dev/null || true; INST_PID=
  span
}
curl_run() {
  reset_machine; mkdir -p "$STAGING_DIR"; settle; curl -s "$BASE/_clear" >/dev/null
  OV_WINE_DIRECT=1 "$ROOT/scripts/wine-run.sh" "$WORK/curl.exe" -s -o 'C:\ProgramData\OrvelSetup\curl.bin' "$BASE/ovinstaller.exe"
  [ "$(stat -c %s "$STAGING_DIR/curl.bin")" = "$PKG_SIZE" ] || { echo "curl.exe: wrong size" >&2; exit 1; }
  span
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "== parallel download benchmark: $(wine --version), $PKG_SIZE bytes, load $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A RATIO
for scenario in ${OV_BENCH_PAR_SCENARIOS:-paced plain}; do
  if [ "$scenario" = paced ]; then serve "blob=package&rate=$RATE"; label="paced to $RATE bytes/s per connection"
  else serve "blob=package"; label="plain loopback"; fi
  echo
  echo "-- $label, $RUNS runs each, alternating (server's span of the package requests)"
  : > "$WORK/i.$scenario"; : > "$WORK/c.$scenario"
  for i in $(seq "$RUNS"); do
    read -r ti ni < <(installer_run)
    read -r tc nc < <(curl_run)
    echo "$ti" >> "$WORK/i.$scenario"; echo "$tc" >> "$WORK/c.$scenario"
    awk -v a="$ti" -v na="$ni" -v b="$tc" -v n="$PKG_SIZE" -v i="$i" 'BEGIN {
      printf "run %d: installer %.3f s (%.1f MB/s, %d requests), curl.exe %.3f s (%.1f MB/s)\n", i, a, n / a / 1e6, na, b, n / b / 1e6 }'
  done
  a=$(median < "$WORK/i.$scenario"); b=$(median < "$WORK/c.$scenario")
  RATIO[$scenario]=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", b / a }')
  echo "median: installer $a s, curl.exe $b s, ratio installer/curl.exe ${RATIO[$scenario]}"
done

if [ "${OV_BENCH_PAR_MEMORY:-1}" != 0 ]; then
echo
echo "-- peak working set over a whole install (paint_probe)"
memory() {  # ROUTE -> peak working set at the package's start
  serve "$1"; reset_machine; curl -s "$BASE/_clear" >/dev/null
  OV_WINE_DIRECT=1 "$ROOT/scripts/wine-run.sh" "$WORK/paint_probe.exe" memory "$TITLE" \
    'C:\欧维网络\欧维澄岳\installer.txt' 300 "$WIN_WORK\\inst\\OvSetup.exe" > "$WORK/mem.txt" 2>&1 &
  PROBE_PID=$!
  for _ in $(seq 600); do grep -q '^painted' "$WORK/mem.txt" && break; sleep 0.1; done
  click
  wait "$PROBE_PID" || true; PROBE_PID=
  tr -d '\r' < "$WORK/mem.txt" | sed -n 's/^peak_life //p'
}
# Paced, so that the download is really split (a fast line never is).
MEM_PARTS=$(memory "blob=package&rate=$RATE")
MEM_ONE=$(memory "blob=package&rate=$RATE&mode=norange")
reset_machine
echo "in parts: $MEM_PARTS bytes; one connection (ranges not served): $MEM_ONE bytes"
fi

echo
echo "== summary"
[ -n "${RATIO[paced]:-}" ] && awk -v r="${RATIO[paced]}" -v rate="$RATE" 'BEGIN { printf "paced to %d B/s per connection: installer/curl.exe %.2f  (goal >= 3: %s)\n", rate, r, (r >= 3) ? "met" : "NOT met" }'
[ -n "${RATIO[plain]:-}" ] && awk -v r="${RATIO[plain]}" 'BEGIN { printf "plain loopback: installer/curl.exe %.2f  (goal >= 1.0: %s)\n", r, (r >= 1.0) ? "met" : "NOT met" }'
[ -n "${MEM_PARTS:-}" ] && awk -v a="$MEM_PARTS" -v b="$MEM_ONE" 'BEGIN { printf "peak working set in parts / one connection %.2f  (goal <= 1.0: %s)\n", a / b, (a <= b) ? "met" : "NOT met" }'
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
