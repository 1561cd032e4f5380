#!/usr/bin/env bash
# Download benchmark: the engine against curl.exe (same libcurl), one file of
# OV_BENCH_SIZE bytes (default 200 MB) from the local test server, alternating
# A B A B five times; the idle CPU and wake-ups of the two channels over 10 s;
# and the CPU per 100 MB of a download the server throttles to 1 MB/s (a real
# line's rate), engine and curl.exe alternating, OV_BENCH_SLOW_SIZE bytes each
# (default 10 MB; the figure for 100 MB counts one start of the program and
# scales the rest).
#
#   bench/run_bench.sh     (does its own set-up and build on first use)
#
# Settings: OV_BENCH_SIZE (bytes), OV_BENCH_RUNS, OV_BENCH_IDLE (seconds),
# OV_BENCH_SLOW_SIZE (bytes), OV_BENCH_SLOW_RUNS, OV_BENCH_SLOW_RATE (bytes/s).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${OV_BUILD_DIR:-$ROOT/build}
DEPS=$BUILD/deps
SIZE=${OV_BENCH_SIZE:-200000000}
RUNS=${OV_BENCH_RUNS:-5}
IDLE=${OV_BENCH_IDLE:-10}
SLOW_SIZE=${OV_BENCH_SLOW_SIZE:-10000000}
SLOW_RUNS=${OV_BENCH_SLOW_RUNS:-3}
SLOW_RATE=${OV_BENCH_SLOW_RATE:-1000000}
WORK=$(mktemp -d /tmp/ovbench.XXXXXX)
SERVER_PID=

cleanup() {
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

"$ROOT/scripts/setup.sh" >/dev/null
cmake --build "$BUILD/out" --target http_bench -j "$(nproc)" >/dev/null
cp "$BUILD/out/bench/http_bench.exe" "$WORK/http_bench.exe"

python3 "$ROOT/tests/Http/server/fault_server.py" "$WORK/port" --idle 600 &
SERVER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
PORT=$(cat "$WORK/port")

export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
cp "$DEPS/curl/bin/curl.exe" "$WORK/curl.exe"
WIN_WORK="Z:${WORK//\//\\}"
echo "== download benchmark: $(wine --version), load $(cut -d' ' -f1-3 /proc/loadavg)"
"$ROOT/scripts/wine-run.sh" "$WORK/http_bench.exe" "http://127.0.0.1:$PORT/bench?size=$SIZE&seed=1" "$SIZE" \
  "$WIN_WORK" "$WIN_WORK\\curl.exe" "$RUNS" "$IDLE"

# --- CPU of a download throttled to a real line's rate -------------------------
# Both programs are timed alike from here, as whole processes (user + system
# CPU of the Wine process, Wine's own start included): under Wine a program
# cannot read another process's CPU. A 16-byte download by each gives its
# start-up cost, shown and also subtracted.
SLOW_URL="http://127.0.0.1:$PORT/slow?size=$SLOW_SIZE&seed=2&rate=$SLOW_RATE"
TINY_URL="http://127.0.0.1:$PORT/tiny?size=16"
timed() {  # RESULT_FILE EXPECTED_SIZE OUTPUT_FILE PROGRAM ARGS... -> "cpu wall" in RESULT_FILE
  local result=$1 expect=$2 output=$3; shift 3
  local TIMEFORMAT='%3U %3S %3R'
  rm -f "$output"
  { time OV_WINE_DIRECT=1 "$ROOT/scripts/wine-run.sh" "$@" >"$WORK/out.txt" 2>"$WORK/err.txt"; } 2>"$result.t" || {
    echo "failed: $*" >&2; cat "$WORK/err.txt" >&2; exit 1; }
  [ "$(stat -c %s "$output" 2>/dev/null)" = "$expect" ] || { echo "wrong size from: $*" >&2; exit 1; }
  awk '{ printf "%.3f %.3f\n", $1 + $2, $3 }' "$result.t" > "$result"
}
engine_get() { timed "$1" "$2" "$WORK/e.bin" "$WORK/http_bench.exe" fetch "$3" "$2" "$WIN_WORK\\e.bin"; }
curl_get() { timed "$1" "$2" "$WORK/c.bin" "$WORK/curl.exe" -s -o "$WIN_WORK\\c.bin" "$3"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo
echo "-- throttled to $SLOW_RATE bytes/s: $SLOW_SIZE bytes, $SLOW_RUNS runs each, alternating"
: > "$WORK/start.e"; : > "$WORK/start.c"; : > "$WORK/slow.e"; : > "$WORK/slow.c"
for _ in 1 2 3; do
  engine_get "$WORK/r" 16 "$TINY_URL"; cut -d' ' -f1 "$WORK/r" >> "$WORK/start.e"
  curl_get "$WORK/r" 16 "$TINY_URL"; cut -d' ' -f1 "$WORK/r" >> "$WORK/start.c"
done
for i in $(seq "$SLOW_RUNS"); do
  engine_get "$WORK/r" "$SLOW_SIZE" "$SLOW_URL"; read -r ecpu ewall < "$WORK/r"; echo "$ecpu" >> "$WORK/slow.e"
  tr -d '\r' < "$WORK/out.txt" > "$WORK/engine_threads.txt"
  curl_get "$WORK/r" "$SLOW_SIZE" "$SLOW_URL"; read -r ccpu cwall < "$WORK/r"; echo "$ccpu" >> "$WORK/slow.c"
  echo "run $i: engine cpu $ecpu s (${ewall} s), curl.exe cpu $ccpu s (${cwall} s)"
done
echo "the engine's own view of its last run: $(cat "$WORK/engine_threads.txt")"
ES=$(median < "$WORK/start.e"); CS=$(median < "$WORK/start.c")
EC=$(median < "$WORK/slow.e"); CC=$(median < "$WORK/slow.c")
echo "start-up (a 16-byte download, median of 3): engine $ES s, curl.exe $CS s"
awk -v e="$EC" -v c="$CC" -v es="$ES" -v cs="$CS" -v n="$SLOW_SIZE" 'BEGIN {
  k = 1e8 / n
  # One 100 MB download: the program starts once, the rest scales with the size.
  e100 = es + (e - es) * k; c100 = cs + (c - cs) * k
  printf "cpu seconds for 100 MB at the throttled rate (one start, median runs scaled): engine %.3f, curl.exe %.3f, ratio engine/curl.exe %.2f\n", e100, c100, e100 / c100
  printf "  without either start-up: engine %.3f, curl.exe %.3f, ratio %.2f\n", (e - es) * k, (c - cs) * k, (e - es) / (c - cs)
}'
echo "load afterwards $(cut -d' ' -f1-3 /proc/loadavg)"
