#!/usr/bin/python3
"""Draws every PNG image of the installer skin.

The PNGs are committed beside the layouts, so a build never runs this script;
run it again only after changing a look here:

    /usr/bin/python3 skin/tools/draw_skin.py            # writes into skin/
    /usr/bin/python3 skin/tools/draw_skin.py OUT_DIR    # writes elsewhere

Every image is drawn twice: at its layout size ("name.png") and at twice
that size ("name@2x.png"), which the program uses on screens of 200 % (and,
reduced, between 100 % and 200 %). The drawings are written in the layout's
pixels; K, the scale of the pass, multiplies them inside the helpers, so the
2x image is drawn anew (shapes, text, gradients), never enlarged.

Needs Debian's python3-pil and fonts-wqy-zenhei. The output depends only on
this file, Pillow and the font, so two runs give byte-identical files.

Every image is 8-bit RGBA. Shapes are drawn as coverage masks at SS times the
size and box-filtered down, which gives clean anti-aliased edges without
Pillow's RGBA resampling (which would bleed colour into transparent pixels).
"""

import math
import os
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

FONT_PATH = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
FONT_INDEX = 0  # "WenQuanYi Zen Hei", the face the test prefix maps 宋体 to

SS = 4  # supersampling factor for shapes
K = 1   # the pass being drawn: 1 for "name.png", 2 for "name@2x.png"

# ---------------------------------------------------------------- palette --
TITLE_BAR = (0x00, 0x39, 0x6A)        # the product's dark blue
HERO_TOP = (0x0D, 0x55, 0x98)
HERO_BOTTOM = (0x05, 0x2E, 0x58)
HERO_GLOW = (0x4A, 0xA0, 0xEE)
RIDGE_FAR = (0x8C, 0xC4, 0xF5)
RIDGE_NEAR = (0x02, 0x24, 0x47)
PRIMARY_TOP = (0x36, 0x9C, 0xFF)      # primary button gradient, normal
PRIMARY_BOTTOM = (0x14, 0x75, 0xE6)
PRIMARY_HOT_TOP = (0x55, 0xAE, 0xFF)
PRIMARY_HOT_BOTTOM = (0x25, 0x88, 0xF2)
PRIMARY_DOWN_TOP = (0x16, 0x73, 0xD6)
PRIMARY_DOWN_BOTTOM = (0x0E, 0x5D, 0xB8)
PRIMARY = (0x1D, 0x7F, 0xE8)          # flat accent: check box, icon, fill
GLOW = (0x6C, 0xBC, 0xFF)
WHITE = (0xFF, 0xFF, 0xFF)
TEXT = (0x44, 0x43, 0x43)             # the layouts' label colour
TEXT_MUTED = (0x6B, 0x75, 0x80)
LINK = (0x17, 0x6B, 0xC7)
LINK_HOT = (0x2E, 0x8F, 0xF5)
BORDER = (0xC5, 0xCD, 0xD7)
BORDER_STRONG = (0xA3, 0xAF, 0xBD)
FIELD_TOP_SHADE = (0xEE, 0xF1, 0xF5)
SOFT_FILL = (0xF5, 0xF8, 0xFB)
SOFT_FILL_HOT = (0xEA, 0xF3, 0xFE)
SOFT_FILL_DOWN = (0xDC, 0xEA, 0xFB)
TRACK = (0xE2, 0xE8, 0xEF)
TRACK_EDGE = (0xD3, 0xDB, 0xE5)
FILL_TOP = (0x4B, 0xA7, 0xFF)
FILL_BOTTOM = (0x17, 0x78, 0xE5)
CLOSE_HOT = (0xE8, 0x4A, 0x4F)
CLOSE_DOWN = (0xC2, 0x35, 0x3A)
SHADOW = (0x00, 0x00, 0x00)

NORMAL, HOT, PUSHED = 0, 1, 2


# ---------------------------------------------------------------- helpers --
def new_image(w, h, color=(0, 0, 0, 0)):
    """An image of w x h layout pixels (K times as many real ones)."""
    return Image.new("RGBA", (w * K, h * K), color)


def layout_size(img):
    return img.size[0] // K, img.size[1] // K


def font(px):
    return ImageFont.truetype(FONT_PATH, px, index=FONT_INDEX)


def coverage(w, h, draw_fn):
    """Anti-aliased L mask: draw_fn(draw, s) paints 255 at scale s."""
    big = Image.new("L", (w * K * SS, h * K * SS), 0)
    draw_fn(ImageDraw.Draw(big), SS * K)
    return big.resize((w * K, h * K), Image.BOX)


def rrect_mask(w, h, box, radius):
    """Coverage of a rounded rectangle whose edges lie on pixel borders."""
    x0, y0, x1, y1 = box

    def draw(d, s):
        r = radius * s
        rect = [x0 * s, y0 * s, x1 * s - 1, y1 * s - 1]
        if r > 0:
            d.rounded_rectangle(rect, radius=r, fill=255)
        else:
            d.rectangle(rect, fill=255)

    return coverage(w, h, draw)


def ellipse_mask(w, h, box):
    x0, y0, x1, y1 = box
    return coverage(w, h, lambda d, s: d.ellipse(
        [x0 * s, y0 * s, x1 * s - 1, y1 * s - 1], fill=255))


def polyline_mask(w, h, points, width):
    """A stroked polyline with round joints, coordinates in pixels."""

    def draw(d, s):
        pts = [(x * s, y * s) for x, y in points]
        d.line(pts, fill=255, width=int(round(width * s)), joint="curve")
        rad = width * s / 2
        for x, y in (pts[0], pts[-1]):
            d.ellipse([x - rad, y - rad, x + rad, y + rad], fill=255)

    return coverage(w, h, draw)


def mask_minus(a, b):
    """Coverage of a without b."""
    return ImageChops.subtract(a, b)


def mask_union(a, b):
    return ImageChops.lighter(a, b)


def mask_scale(m, factor):
    return m.point(lambda v: int(v * factor + 0.5))


def vgradient(w, h, top, bottom, y0=0, y1=None):
    """Opaque vertical gradient: colour top at row y0, bottom at row y1 - 1."""
    y1 = h if y1 is None else y1
    img = new_image(w, h)
    px = img.load()
    w, h, y0, y1 = w * K, h * K, y0 * K, y1 * K
    span = max(1, y1 - y0 - 1)
    for y in range(h):
        t = min(1.0, max(0.0, (y - y0) / span))
        c = tuple(int(round(a + (b - a) * t)) for a, b in zip(top, bottom)) + (255,)
        for x in range(w):
            px[x, y] = c
    return img


def solid(w, h, color):
    return new_image(w, h, tuple(color) + (255,))


def paint(dst, mask, fill, opacity=1.0):
    """Composite fill (an RGB colour or an RGBA image) through mask."""
    w, h = layout_size(dst)
    layer = solid(w, h, fill) if isinstance(fill, tuple) else fill.copy()
    alpha = ImageChops.multiply(layer.getchannel("A"), mask)
    if opacity < 1.0:
        alpha = mask_scale(alpha, opacity)
    layer.putalpha(alpha)
    dst.alpha_composite(layer)


def text_mask(w, h, pieces):
    """pieces: (x, y, text, px, spacing); x, y is the top-left of the em box."""
    m = Image.new("L", (w * K, h * K), 0)
    d = ImageDraw.Draw(m)
    for x, y, text, px, spacing in pieces:
        f = font(px * K)
        cx = round(x * K)
        for ch in text:
            d.text((cx, round(y * K)), ch, font=f, fill=255)
            cx += f.getlength(ch) + spacing * K
    return m


def text_width(text, px, spacing=0):
    """In layout pixels, measured at the pass's size."""
    f = font(px * K)
    return (sum(f.getlength(ch) for ch in text) + spacing * K * (len(text) - 1)) / K


def ink_rows(text, px):
    """First and last row that carry real ink (ignores faint anti-alias rows),
    in layout pixels (fractions of one in the 2x pass)."""
    f = font(px * K)
    m = Image.new("L", (int(text_width(text, px) * K) + 4, px * K * 2), 0)
    ImageDraw.Draw(m).text((0, 0), text, font=f, fill=255)
    rows = [y for y in range(m.size[1])
            if max(m.crop((0, y, m.size[0], y + 1)).getdata()) >= 96]
    return rows[0] / K, (rows[-1] + 1) / K - 1


def heavy_text_at(w, h, text, px, cx, cy, spacing=0, embolden=0.5):
    """Like text_at, for display sizes: drawn at SS times the size with a
    stroke of `embolden` pixels, which gives the light face more weight."""
    top, bottom = ink_rows(text, px)
    x = cx - text_width(text, px, spacing) / 2
    y = cy - (bottom - top + 1) / 2 - top

    def draw(d, s):
        f = ImageFont.truetype(FONT_PATH, px * s, index=FONT_INDEX)
        stroke = int(round(embolden * s))
        cur = x * s
        for ch in text:
            d.text((cur, y * s), ch, font=f, fill=255, stroke_width=stroke, stroke_fill=255)
            cur += f.getlength(ch) + spacing * s

    return coverage(w, h, draw)


def text_at(w, h, text, px, cx, cy, spacing=0):
    """Mask of text whose real ink is centred on (cx, cy)."""
    top, bottom = ink_rows(text, px)
    x = cx - text_width(text, px, spacing) / 2
    y = cy - (bottom - top + 1) / 2 - top
    return text_mask(w, h, [(round(x * K) / K, round(y * K) / K, text, px, spacing)])


def centred_text(w, h, text, px, spacing=0, dx=0, dy=0):
    """Mask of text centred on its real ink inside a w x h box."""
    return text_at(w, h, text, px, w / 2 + dx, h / 2 + dy, spacing)


def blur_mask(m, radius):
    return m.filter(ImageFilter.GaussianBlur(radius * K))


# ------------------------------------------------------------- the images --
def emblem(dst, cx, cy, mark, ring_radius, ring_width, color=WHITE, ring_opacity=1.0):
    """The product mark: two peaks over a line of water, inside a thin ring.
    `mark` is the size the peaks are drawn for; the ring may lie wider."""
    w, h = layout_size(dst)
    r = mark / 2
    mountain = [(cx - r * 0.62, cy + r * 0.22), (cx - r * 0.18, cy - r * 0.40),
                (cx + r * 0.06, cy - r * 0.10), (cx + r * 0.26, cy - r * 0.30),
                (cx + r * 0.62, cy + r * 0.22)]
    paint(dst, coverage(w, h, lambda d, s: d.polygon(
        [(x * s, y * s) for x, y in mountain], fill=255)), color)
    water = [(cx - r * 0.50, cy + r * 0.44), (cx - r * 0.25, cy + r * 0.36),
             (cx, cy + r * 0.44), (cx + r * 0.25, cy + r * 0.36),
             (cx + r * 0.50, cy + r * 0.44)]
    paint(dst, polyline_mask(w, h, water, max(1.2, mark / 22)), color)
    ro, ri = ring_radius, ring_radius - ring_width
    ring = mask_minus(ellipse_mask(w, h, (cx - ro, cy - ro, cx + ro, cy + ro)),
                      ellipse_mask(w, h, (cx - ri, cy - ri, cx + ri, cy + ri)))
    paint(dst, ring, color, ring_opacity)


def ridge(w, y_base, amp, waves, phase):
    """Deterministic mountain outline: y for every column."""
    ys = []
    for x in range(w + 1):
        t = x / w
        y = y_base
        for i, (k, a) in enumerate(waves):
            y -= amp * a * math.sin(2 * math.pi * (k * t) + phase * (i + 1))
        ys.append(y)
    return ys


def ridge_mask(w, h, ys):
    def draw(d, s):
        pts = [(x * s, ys[x] * s) for x in range(len(ys))]
        pts += [(w * s, h * s), (0, h * s)]
        d.polygon(pts, fill=255)
    return coverage(w, h, draw)


def bg_progress():
    """Page background 540x313: 30-pixel title bar, then the hero area."""
    w, h, bar = 540, 313, 30
    img = vgradient(w, h, HERO_TOP, HERO_BOTTOM, bar, h)
    # Soft light behind the product mark.
    glow = Image.new("L", (w * K, h * K), 0)
    ImageDraw.Draw(glow).ellipse([(270 - 150) * K, (118 - 95) * K, (270 + 150) * K, (118 + 95) * K], fill=255)
    paint(img, mask_scale(blur_mask(glow, 48), 0.32), HERO_GLOW)
    # Three mountain ridges: far ones light and faint, the near one dark.
    far = ridge(w, 232, 22, [(1.3, 0.9), (3.1, 0.35), (7.0, 0.12)], 0.7)
    mid = ridge(w, 262, 18, [(1.7, 0.8), (4.3, 0.30), (9.0, 0.10)], 2.1)
    near = ridge(w, 292, 12, [(1.1, 0.9), (3.7, 0.40), (8.0, 0.12)], 4.0)
    paint(img, ridge_mask(w, h, far), RIDGE_FAR, 0.07)
    paint(img, ridge_mask(w, h, mid), RIDGE_FAR, 0.06)
    paint(img, ridge_mask(w, h, near), RIDGE_NEAR, 0.45)
    # Title bar with the mark and the product name.
    paint(img, rrect_mask(w, h, (0, 0, w, bar), 0), TITLE_BAR)
    paint(img, rrect_mask(w, h, (0, bar, w, bar + 1), 0), (0x1B, 0x5E, 0x9E), 0.6)
    emblem(img, 19, 15, 16, 8, 1.0, WHITE)
    paint(img, text_mask(w, h, [(34, 15 - 6 - 1, "澄岳安装程序", 12, 0)]), WHITE, 0.92)
    # Hero: mark, word mark and the Latin name.
    emblem(img, 270, 92, 64, 34, 2.0, WHITE, ring_opacity=0.85)
    paint(img, heavy_text_at(w, h, "澄岳", 34, 270, 157, spacing=10), WHITE)
    paint(img, text_at(w, h, "O R V E L", 11, 270, 189), (0xA9, 0xCD, 0xF0))
    return img


def primary_button(w, h, margin_x, margin_y, radius, state, label, px, glow=False):
    """A filled primary button with a label, optionally with an outer glow."""
    img = new_image(w, h)
    box = (margin_x, margin_y, w - margin_x, h - margin_y)
    shape = rrect_mask(w, h, box, radius)
    if glow:
        # The glow is kept out of the face's own box: the layout shows only
        # that box (source 5,5,189,49), and a halo cut off at its edges would
        # show as stray light in the rounded corners.
        halo = blur_mask(rrect_mask(w, h, box, radius), 2.6)
        halo = mask_minus(halo, rrect_mask(w, h, box, 0))
        paint(img, mask_scale(halo, 0.75), GLOW)
    top, bottom = {NORMAL: (PRIMARY_TOP, PRIMARY_BOTTOM),
                   HOT: (PRIMARY_HOT_TOP, PRIMARY_HOT_BOTTOM),
                   PUSHED: (PRIMARY_DOWN_TOP, PRIMARY_DOWN_BOTTOM)}[state]
    paint(img, shape, vgradient(w, h, top, bottom, box[1], box[3]))
    # A one-pixel highlight along the top edge gives the face some depth.
    inner = rrect_mask(w, h, (box[0], box[1] + 1, box[2], box[3]), radius)
    paint(img, mask_minus(shape, inner), WHITE, 0.28 if state != PUSHED else 0.0)
    dy = 1 if state == PUSHED else 0
    paint(img, centred_text(w, h, label, px, spacing=max(0, px // 8), dy=dy), WHITE)
    return img


def install_0():
    return primary_button(184, 44, 0, 0, 6, NORMAL, "立即安装", 18)


def install_1():
    # Drawn with source 5,5,189,49: the face fills the centre, a glow the
    # 5-pixel margin around it.
    return primary_button(194, 54, 5, 5, 6, HOT, "立即安装", 18, glow=True)


def install_3():
    # Not referenced by the layouts: the pushed look with a wider margin.
    return primary_button(202, 56, 9, 6, 6, PUSHED, "立即安装", 18)


def install2(state):
    return primary_button(100, 28, 0, 0, 4, state, "立即安装", 13)


def select_dir(state):
    """Directory button; it overlaps the input's right edge, so its left
    corners are square and it reads as one group with the field."""
    w, h = 84, 29
    img = new_image(w, h)
    outer = mask_union(rrect_mask(w, h, (0, 0, w, h), 3),
                       rrect_mask(w, h, (0, 0, 4, h), 0))
    inner = mask_union(rrect_mask(w, h, (1, 1, w - 1, h - 1), 2),
                       rrect_mask(w, h, (1, 1, 4, h - 1), 0))
    fill = SOFT_FILL if state == NORMAL else SOFT_FILL_HOT
    edge = BORDER if state == NORMAL else PRIMARY
    ink = TEXT if state == NORMAL else LINK
    paint(img, mask_minus(outer, inner), edge)
    paint(img, inner, fill)
    paint(img, centred_text(w, h, "选择目录", 12), ink)
    return img


def input_frame():
    w, h = 436, 29
    img = new_image(w, h)
    outer = rrect_mask(w, h, (0, 0, w, h), 3)
    inner = rrect_mask(w, h, (1, 1, w - 1, h - 1), 2)
    paint(img, mask_minus(outer, inner), BORDER)
    paint(img, inner, WHITE)
    # A faint inner shade under the top edge marks it as a field.
    shade = rrect_mask(w, h, (1, 1, w - 1, 2), 0)
    paint(img, shade, FIELD_TOP_SHADE)
    return img


def option(checked):
    w = h = 16
    img = new_image(w, h)
    outer = rrect_mask(w, h, (1, 1, 15, 15), 3)
    inner = rrect_mask(w, h, (2, 2, 14, 14), 2)
    if checked:
        paint(img, outer, PRIMARY)
        paint(img, polyline_mask(w, h, [(4.6, 8.2), (7.0, 10.6), (11.6, 5.6)], 1.9), WHITE)
    else:
        paint(img, mask_minus(outer, inner), BORDER_STRONG)
        paint(img, inner, WHITE)
    return img


def link_agreement(hot):
    # Drawn with source 24,0,96,11: only "软件许可协议" shows; the first 24
    # pixels carry the "同意" that the check box itself says.
    w, h = 96, 11
    img = new_image(w, h)
    top, _ = ink_rows("软件许可协议", 11)
    y = -top
    paint(img, text_mask(w, h, [(0, y, "同意", 11, 1)]), TEXT)
    paint(img, text_mask(w, h, [(24, y, "软件许可协议", 11, 1)]), LINK_HOT if hot else LINK)
    return img


def link_free(hot):
    w, h = 77, 13
    img = new_image(w, h)
    ink = LINK if hot else TEXT_MUTED
    top, bottom = ink_rows("自定义安装", 12)
    y = (h - (bottom - top + 1)) // 2 - top
    paint(img, text_mask(w, h, [(5, y, "自定义安装", 12, 0)]), ink)
    # A chevron, set apart from the text, says "more choices here".
    paint(img, polyline_mask(w, h, [(70.5, 3.0), (74.0, 6.5), (70.5, 10.0)], 1.2), ink)
    return img


def caption_button(kind, state):
    """Minimise / close glyph for the dark title bar, 25x23. The hot and
    pushed states put a disc behind the glyph, so the look does not depend
    on how far the title bar reaches below the button."""
    w, h = 25, 23
    img = new_image(w, h)
    # The glyph sits a little below the image's middle: the buttons hang from
    # the top of 30-pixel title bars, so this centres it on the bar.
    cx, cy = 12.5, 13.5
    if state != NORMAL:
        disc = ellipse_mask(w, h, (cx - 9.0, cy - 9.0, cx + 9.0, cy + 9.0))
        if kind == "close":
            paint(img, disc, CLOSE_HOT if state == HOT else CLOSE_DOWN)
        else:
            paint(img, disc, WHITE, 0.18 if state == HOT else 0.30)
    glyph_alpha = 0.88 if state == NORMAL else 1.0
    if kind == "min":
        paint(img, rrect_mask(w, h, (8, 13, 17, 14), 0), WHITE, glyph_alpha)
    else:
        d = 4.0
        m1 = polyline_mask(w, h, [(cx - d, cy - d), (cx + d, cy + d)], 1.25)
        m2 = polyline_mask(w, h, [(cx - d, cy + d), (cx + d, cy - d)], 1.25)
        paint(img, mask_union(m1, m2), WHITE, glyph_alpha)
    return img


BAR_TOP, BAR_BOTTOM = 11, 19  # the visible band inside the 30-pixel bar


def progress_bk():
    w, h = 470, 30
    img = new_image(w, h)
    outer = rrect_mask(w, h, (0, BAR_TOP, w, BAR_BOTTOM), 4)
    inner = rrect_mask(w, h, (0, BAR_TOP + 1, w, BAR_BOTTOM), 4)
    paint(img, outer, TRACK_EDGE)
    paint(img, inner, TRACK)
    return img


def progress_fore():
    # Drawn with corner 0,15,5,15: the last five columns keep the round end,
    # everything left of them is stretched to the done width.
    w, h = 470, 30
    img = new_image(w, h)
    shape = rrect_mask(w, h, (0, BAR_TOP, w, BAR_BOTTOM), 4)
    paint(img, shape, vgradient(w, h, FILL_TOP, FILL_BOTTOM, BAR_TOP, BAR_BOTTOM))
    return img


def public_btn(primary, state):
    """Message box button, drawn as a nine-part image with corner 3,3,3,3."""
    w = h = 24
    img = new_image(w, h)
    outer = rrect_mask(w, h, (0, 0, w, h), 3)
    inner = rrect_mask(w, h, (1, 1, w - 1, h - 1), 2)
    if primary:
        top, bottom = {NORMAL: (PRIMARY_TOP, PRIMARY_BOTTOM),
                       HOT: (PRIMARY_HOT_TOP, PRIMARY_HOT_BOTTOM),
                       PUSHED: (PRIMARY_DOWN_TOP, PRIMARY_DOWN_BOTTOM)}[state]
        paint(img, outer, vgradient(w, h, top, bottom))
    else:
        edge = {NORMAL: BORDER, HOT: PRIMARY, PUSHED: PRIMARY}[state]
        fill = {NORMAL: WHITE, HOT: SOFT_FILL_HOT, PUSHED: SOFT_FILL_DOWN}[state]
        paint(img, mask_minus(outer, inner), edge)
        paint(img, inner, fill)
    return img


def tip_icon():
    w = h = 29
    img = new_image(w, h)
    paint(img, ellipse_mask(w, h, (1.5, 1.5, 27.5, 27.5)), PRIMARY)
    paint(img, ellipse_mask(w, h, (12.6, 6.6, 16.4, 10.4)), WHITE)
    paint(img, rrect_mask(w, h, (13, 12, 16, 22), 1), WHITE)
    return img


SHADOW_BORDER = (5, 4, 5, 6)        # the layouts' shadowborder: l, t, r, b
SHADOW_PEAK = (0.34, 0.24, 0.34, 0.44)  # opacity at the window edge per side


def shadow():
    """290x610 shadow for corner='5,4,5,6' hole='true' slicing: a soft ring
    exactly as wide as the border on each side, the centre left empty."""
    w, h = 290, 610
    bl, bt, br, bb = SHADOW_BORDER
    pl, pt, pr, pb = SHADOW_PEAK
    img = new_image(w, h)
    px = img.load()
    for y in range(h * K):
        for x in range(w * K):
            fx, fy = (x + 0.5) / K, (y + 0.5) / K
            # Normalised distance outward from the inner (window) rectangle.
            if fx < bl:
                dx, ax = (bl - fx) / bl, pl
            elif fx > w - br:
                dx, ax = (fx - (w - br)) / br, pr
            else:
                dx, ax = 0.0, None
            if fy < bt:
                dy, ay = (bt - fy) / bt, pt
            elif fy > h - bb:
                dy, ay = (fy - (h - bb)) / bb, pb
            else:
                dy, ay = 0.0, None
            if ax is None and ay is None:
                continue
            dist = math.hypot(dx, dy)
            if dist >= 1.0:
                continue
            if ax is not None and ay is not None:
                wsum = dx + dy
                peak = (ax * dx + ay * dy) / wsum if wsum > 0 else (ax + ay) / 2
            else:
                peak = ax if ax is not None else ay
            a = peak * (1.0 - dist) ** 1.7
            px[x, y] = SHADOW + (int(round(a * 255)),)
    return img


IMAGES = {
    "bg_progress.png": bg_progress,
    "btn_agreement_000.png": lambda: link_agreement(False),
    "btn_agreement_002.png": lambda: link_agreement(True),
    "btn_close000.png": lambda: caption_button("close", NORMAL),
    "btn_close001.png": lambda: caption_button("close", HOT),
    "btn_close002.png": lambda: caption_button("close", PUSHED),
    "btn_min000.png": lambda: caption_button("min", NORMAL),
    "btn_min001.png": lambda: caption_button("min", HOT),
    "btn_min002.png": lambda: caption_button("min", PUSHED),
    "btn_free_000.png": lambda: link_free(False),
    "btn_free_002.png": lambda: link_free(True),
    "common_tip_icon.png": tip_icon,
    "input.png": input_frame,
    "install_0.png": install_0,
    "install_1.png": install_1,
    "install_3.png": install_3,
    "install2_0.png": lambda: install2(NORMAL),
    "install2_1.png": lambda: install2(HOT),
    "opt_000.png": lambda: option(False),
    "opt_001.png": lambda: option(True),
    "progress_bk.png": progress_bk,
    "progress_fore.png": progress_fore,
    "public_btn_000.png": lambda: public_btn(True, NORMAL),
    "public_btn_001.png": lambda: public_btn(True, HOT),
    "public_btn_002.png": lambda: public_btn(True, PUSHED),
    "public_btn1_000.png": lambda: public_btn(False, NORMAL),
    "public_btn1_001.png": lambda: public_btn(False, HOT),
    "public_btn1_002.png": lambda: public_btn(False, PUSHED),
    "select_dir_0.png": lambda: select_dir(NORMAL),
    "select_dir_1.png": lambda: select_dir(HOT),
    "shadow.png": shadow,
}

# Pixel sizes the layouts and the program rely on.
SIZES = {
    "bg_progress.png": (540, 313), "btn_agreement_000.png": (96, 11),
    "btn_agreement_002.png": (96, 11), "btn_close000.png": (25, 23),
    "btn_close001.png": (25, 23), "btn_close002.png": (25, 23),
    "btn_min000.png": (25, 23), "btn_min001.png": (25, 23),
    "btn_min002.png": (25, 23), "btn_free_000.png": (77, 13),
    "btn_free_002.png": (77, 13), "common_tip_icon.png": (29, 29),
    "input.png": (436, 29), "install_0.png": (184, 44),
    "install_1.png": (194, 54), "install_3.png": (202, 56),
    "install2_0.png": (100, 28), "install2_1.png": (100, 28),
    "opt_000.png": (16, 16), "opt_001.png": (16, 16),
    "progress_bk.png": (470, 30), "progress_fore.png": (470, 30),
    "public_btn_000.png": (24, 24), "public_btn_001.png": (24, 24),
    "public_btn_002.png": (24, 24), "public_btn1_000.png": (24, 24),
    "public_btn1_001.png": (24, 24), "public_btn1_002.png": (24, 24),
    "select_dir_0.png": (84, 29), "select_dir_1.png": (84, 29),
    "shadow.png": (290, 610),
}


def double_name(name):
    stem, ext = os.path.splitext(name)
    return stem + "@2x" + ext


def main(argv):
    global K
    out = argv[1] if len(argv) > 1 else os.path.normpath(
        os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    os.makedirs(out, exist_ok=True)
    for K in (1, 2):
        for name, draw in IMAGES.items():
            img = draw()
            want = (SIZES[name][0] * K, SIZES[name][1] * K)
            if img.mode != "RGBA" or img.size != want:
                raise SystemExit("%s: drew %s %s, want RGBA %s" % (name, img.mode, img.size, want))
            img.save(os.path.join(out, name if K == 1 else double_name(name)), "PNG", optimize=True)
    print("wrote %d images at 1x and 2x to %s" % (len(IMAGES), out))


if __name__ == "__main__":
    main(sys.argv)
