#!/usr/bin/env bash
# Sets up (first run only), builds, and runs every test suite under Wine on a
# private Xvfb display. Extra arguments go to ctest (for example -R runtime).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${OV_BUILD_DIR:-$ROOT/build}

"$ROOT/scripts/setup.sh"
cmake --build "$BUILD/out" -j "$(nproc)"

export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
# One wineserver for the whole run saves its start-up per test process; it is
# ended on the way out so nothing of ours outlives the run.
# A server already running for this prefix (an earlier run's, still ending)
# refuses a second persistent one; that server then serves the run.
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT

xvfb-run -a -s "-screen 0 1024x768x24" \
  ctest --test-dir "$BUILD/out" --output-on-failure -j "$(nproc)" "$@"
