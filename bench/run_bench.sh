#!/usr/bin/env bash
# Download benchmark: the engine against curl.exe (same libcurl), one file of
# OV_BENCH_SIZE bytes (default 200 MB) from the local test server, alternating
# A B A B five times, plus the idle CPU of the two channels over 10 s.
#
#   bench/run_bench.sh     (does its own set-up and build on first use)
#
# Settings: OV_BENCH_SIZE (bytes), OV_BENCH_RUNS, OV_BENCH_IDLE (seconds).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${OV_BUILD_DIR:-$ROOT/build}
DEPS=$BUILD/deps
SIZE=${OV_BENCH_SIZE:-200000000}
RUNS=${OV_BENCH_RUNS:-5}
IDLE=${OV_BENCH_IDLE:-10}
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
"$ROOT/scripts/wine-run.sh" "$WORK/http_bench.exe" "http://127.0.0.1:$PORT/bench?size=$SIZE&seed=1" "$SIZE" \
  "$WIN_WORK" "$WIN_WORK\\curl.exe" "$RUNS" "$IDLE"
