#!/usr/bin/python3
"""Draws the installer's icon, OvSetup.ico, in the sizes 256, 128, 48, 32, 24
and 16 pixels: a rounded tile in the product's dark blue with white mountain
peaks over a light-blue downward arrow (a download that installs).

Each size is drawn at four times its size and scaled down, so the small sizes
stay crisp. Needs Pillow (Debian: python3-pil). Output is deterministic.
"""
import os
from PIL import Image, ImageDraw

BLUE = (0x00, 0x39, 0x6A, 255)
BLUE_LIGHT = (0x2F, 0x8F, 0xE0, 255)
WHITE = (255, 255, 255, 255)
SIZES = [256, 128, 48, 32, 24, 16]
HERE = os.path.dirname(os.path.abspath(__file__))


def draw(size):
    s = size * 4
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    pad = s * 0.04
    d.rounded_rectangle([pad, pad, s - pad, s - pad], radius=s * 0.2, fill=BLUE)
    # Two peaks, the larger one behind.
    base = s * 0.72
    d.polygon([(s * 0.14, base), (s * 0.45, s * 0.22), (s * 0.76, base)], fill=WHITE)
    d.polygon([(s * 0.48, base), (s * 0.66, s * 0.40), (s * 0.86, base)], fill=(0xCF, 0xE3, 0xF5, 255))
    # Download arrow under the peaks.
    cx = s * 0.5
    # A tile-coloured rim keeps the arrow apart from the white peaks.
    rim = s * 0.025
    d.rectangle([cx - s * 0.05 - rim, s * 0.60 - rim, cx + s * 0.05 + rim, s * 0.78], fill=BLUE)
    d.polygon([(cx - s * 0.13 - 2 * rim, s * 0.76 - rim), (cx + s * 0.13 + 2 * rim, s * 0.76 - rim),
               (cx, s * 0.90 + 1.5 * rim)], fill=BLUE)
    d.rectangle([cx - s * 0.05, s * 0.60, cx + s * 0.05, s * 0.78], fill=BLUE_LIGHT)
    d.polygon([(cx - s * 0.13, s * 0.76), (cx + s * 0.13, s * 0.76), (cx, s * 0.90)], fill=BLUE_LIGHT)
    return img.resize((size, size), Image.LANCZOS)


def main():
    images = [draw(n) for n in SIZES]
    out = os.path.join(HERE, "OvSetup.ico")
    images[0].save(out, format="ICO", sizes=[(n, n) for n in SIZES], append_images=images[1:])
    print("wrote", out)


if __name__ == "__main__":
    main()
