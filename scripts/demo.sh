#!/usr/bin/env bash
# The installer's main job, end to end, on this machine: sets up and builds,
# starts a local manifest and package server, runs the real installer under
# Wine against it (on $DISPLAY if there is one, otherwise on a private Xvfb
# display), clicks "立即安装" as a user would, and leaves screenshots of each
# stage and a short report under demo-output/. It ends by itself.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${OV_BUILD_DIR:-$ROOT/build}

"$ROOT/scripts/setup.sh"
cmake --build "$BUILD/out" -j "$(nproc)" --target OvSetupLocal ovinstaller OrvelLauncher

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$ROOT/scripts/demo-run.sh"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/demo-run.sh"
