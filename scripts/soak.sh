#!/usr/bin/env bash
# The install window soak: builds install_window_soak in its own build tree
# and runs it under Wine on a private virtual display for the given number of
# seconds (default 600). Prints the GDI/USER object, handle and memory figures
# at start, at intervals and at the end; exits non-zero when they grew.
#
#   scripts/soak.sh [seconds]     WINEPREFIX=... to use another prefix
#   OV_SOAK_BUILD=dir             build tree (default build/out-soak)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SECONDS_TO_RUN=${1:-600}
BUILD=${OV_SOAK_BUILD:-$ROOT/build/out-soak}
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}

if [ ! -f "$BUILD/build.ninja" ]; then
  # The target comes from tests/soak/soak.cmake; naming it as the project
  # include makes it available whether or not the top level includes it
  # (the file guards against a second inclusion).
  cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_DEPS_DIR="$ROOT/build/deps" -DOV_ALLOW_UNSIGNED=ON \
    -DCMAKE_PROJECT_INCLUDE="$ROOT/tests/soak/soak.cmake" >/dev/null
fi
cmake --build "$BUILD" --target install_window_soak -j2

# The run is bounded by the program itself; the timeout only guards a hang.
limit=$(( ${SECONDS_TO_RUN%.*} + 120 ))
cd "$ROOT"
exec timeout "$limit" xvfb-run -a -s "-screen 0 1024x768x24" \
  scripts/wine-run.sh "$BUILD/soak/install_window_soak.exe" "$SECONDS_TO_RUN"
