#!/usr/bin/env bash
# Screenshots of the skin preview: the install window's three pages and the
# message box, each taken from a virtual X display while the preview shows it.
#   tools/skin_screenshots.sh BUILD_DIR OUT_DIR
# Needs xvfb-run and ImageMagick's import; runs the preview through Wine.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:?build directory}
OUT=${2:?output directory}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
PREVIEW=$(cd "$BUILD" && pwd)/tools/skin_preview.exe

shoot() {  # name, preview arguments...
  local name=$1; shift
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    OV_WINE_DIRECT=1 "$0/scripts/wine-run.sh" "$1" "${@:3}" --exit-after 12000 >/dev/null 2>&1 &
    pid=$!
    sleep 8
    import -window root "$2"
    wait $pid || true' "$ROOT" "$PREVIEW" "$OUT/$name.png" "$@"
}

shoot install_page0 --window install --page 0
shoot install_page1 --window install --page 1
shoot install_page2 --window install --page 2 --progress 60
shoot messagebox --window msgbox
shoot install_with_messagebox --window both
echo "screenshots in $OUT"
