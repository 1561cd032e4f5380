#!/usr/bin/env bash
# Sharpness of the installer at 150 %: each screenshot taken at 150 % against
# the 100 % one stretched by 1.5 (what Windows shows for a program that does
# not declare itself scale-aware: its bitmap enlarged, bilinear).
#
#   bench/sharpness.sh [SCREENSHOT_DIR]    (default docs/screenshots)
#
# Two figures per page, each "native / stretched" (above 1: sharper):
# - Laplacian variance: the variance of the 4-neighbour Laplacian of the
#   grey image; blur lowers it steeply.
# - Gradient energy: the mean of the squared horizontal and vertical
#   differences (Tenengrad without a threshold).
# The screenshots come from tests/e2e/screenshots.py (with --scale=150 for
# the "-150" files). ImageMagick decodes; the arithmetic is Python's.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DIR=${1:-$ROOT/docs/screenshots}
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

figures() {  # PGM file -> "laplacian-variance gradient-energy"
  python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
# Binary PGM: "P5\n<w> <h>\n<max>\n" then one byte per pixel.
parts = data.split(b"\n", 3)
w, h = map(int, parts[1].split())
px = parts[3]
lap_sum = lap_sq = grad = 0.0
n = 0
for y in range(1, h - 1):
    row = y * w
    for x in range(1, w - 1):
        c = px[row + x]
        l = px[row + x - 1] + px[row + x + 1] + px[row - w + x] + px[row + w + x] - 4 * c
        lap_sum += l
        lap_sq += l * l
        gx = px[row + x + 1] - c
        gy = px[row + w + x] - c
        grad += gx * gx + gy * gy
        n += 1
mean = lap_sum / n
print("%.1f %.1f" % (lap_sq / n - mean * mean, grad / n))
PY
}

printf "%-22s %28s %28s\n" "page (150 %)" "Laplacian var native/stretch" "gradient energy native/stretch"
found=0
for native in "$DIR"/*-150.png; do
  [ -e "$native" ] || continue
  base=$(basename "$native" -150.png)
  small="$DIR/$base.png"
  [ -e "$small" ] || continue
  found=1
  size=$(identify -format "%wx%h" "$native")
  # The stretched 100 % shot, cut to the 150 % shot's size (both have the
  # window at the same offset, scaled by the same factor).
  convert "$small" -filter Triangle -resize 150% -crop "$size+0+0" +repage -colorspace Gray -depth 8 "$TMP/s.pgm"
  convert "$native" -colorspace Gray -depth 8 "$TMP/n.pgm"
  read -r nl ng < <(figures "$TMP/n.pgm")
  read -r sl sg < <(figures "$TMP/s.pgm")
  python3 -c "import sys; nl, ng, sl, sg = map(float, sys.argv[2:]); \
print('%-22s %10.0f / %-8.0f = %4.2f %10.1f / %-8.1f = %4.2f' % (sys.argv[1], nl, sl, nl / sl, ng, sg, ng / sg))" \
    "$base" "$nl" "$ng" "$sl" "$sg"
done
[ "$found" = 1 ] || { echo "no NAME-150.png beside NAME.png in $DIR" >&2; exit 1; }
