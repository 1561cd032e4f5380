#include "ui/Render.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ui/ImageLoader.h"

namespace render {

bool IsEmpty(const RECT& rc) { return rc.right <= rc.left || rc.bottom <= rc.top; }

bool IntersectRects(RECT& out, const RECT& a, const RECT& b) {
    out.left = std::max(a.left, b.left);
    out.top = std::max(a.top, b.top);
    out.right = std::min(a.right, b.right);
    out.bottom = std::min(a.bottom, b.bottom);
    if (IsEmpty(out)) {
        out = RECT{0, 0, 0, 0};
        return false;
    }
    return true;
}

namespace {

COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

// A 1x1 opaque bitmap of `argb`'s colour, stretched with a constant opacity.
void BlendColor(HDC dc, const RECT& rc, DWORD argb, BYTE alpha) {
    HDC mem = CreateCompatibleDC(dc);
    if (!mem) return;
    BITMAPINFO bmi;
    memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = 1;
    bmi.bmiHeader.biHeight = 1;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bmp && bits) {
        *static_cast<DWORD*>(bits) = 0xFF000000u | (argb & 0x00FFFFFFu);
        HGDIOBJ old = SelectObject(mem, bmp);
        BLENDFUNCTION bf = {AC_SRC_OVER, 0, alpha, 0};
        GdiAlphaBlend(dc, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, mem, 0, 0, 1, 1, bf);
        SelectObject(mem, old);
    }
    if (bmp) DeleteObject(bmp);
    DeleteDC(mem);
}

}  // namespace

void DrawColor(HDC dc, const RECT& rc, DWORD color) {
    BYTE alpha = static_cast<BYTE>(color >> 24);
    if (alpha == 0 || IsEmpty(rc)) return;
    if (alpha == 255) {
        SetBkColor(dc, ToColorRef(color));
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
        return;
    }
    BlendColor(dc, rc, color, alpha);
}

void DrawGradient(HDC dc, const RECT& rc, DWORD c1, DWORD c2, bool vertical, int steps) {
    if (IsEmpty(rc) || steps <= 0) return;
    const int length = vertical ? rc.bottom - rc.top : rc.right - rc.left;
    for (int i = 0; i < steps; ++i) {
        int from = length * i / steps, to = length * (i + 1) / steps;
        if (to <= from) continue;
        auto mix = [&](int shift) {
            int a = static_cast<int>((c1 >> shift) & 0xFF), b = static_cast<int>((c2 >> shift) & 0xFF);
            int v = steps > 1 ? a + (b - a) * i / (steps - 1) : a;
            return static_cast<DWORD>(v) << shift;
        };
        DWORD c = mix(24) | mix(16) | mix(8) | mix(0);
        RECT band = rc;
        if (vertical) {
            band.top = rc.top + from;
            band.bottom = rc.top + to;
        } else {
            band.left = rc.left + from;
            band.right = rc.left + to;
        }
        DrawColor(dc, band, c);
    }
}

void DrawLine(HDC dc, const RECT& rc, int size, DWORD color, int penStyle) {
    if (size <= 0 || (color >> 24) == 0) return;
    HPEN pen = CreatePen(penStyle, size, ToColorRef(color));
    if (!pen) return;
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, rc.left, rc.top, nullptr);
    LineTo(dc, rc.right, rc.bottom);
    SelectObject(dc, old);
    DeleteObject(pen);
}

void DrawRect(HDC dc, const RECT& rc, int size, DWORD color) {
    if (size <= 0 || (color >> 24) == 0) return;
    HPEN pen = CreatePen(PS_SOLID | PS_INSIDEFRAME, size, ToColorRef(color));
    if (!pen) return;
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
    Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

void DrawRoundRect(HDC dc, const RECT& rc, int size, int cx, int cy, DWORD color) {
    if (size <= 0 || (color >> 24) == 0) return;
    HPEN pen = CreatePen(PS_SOLID | PS_INSIDEFRAME, size, ToColorRef(color));
    if (!pen) return;
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
    RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, cx, cy);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

namespace {

struct Blitter {
    HDC dc;
    HDC mem;
    const RECT& paint;
    bool alpha;
    BYTE fade;

    // Copies source part `src` into `dst`, only where `dst` meets the paint area.
    void Part(const RECT& dst, const RECT& src) const {
        if (IsEmpty(dst) || IsEmpty(src)) return;
        RECT visible;
        if (!IntersectRects(visible, dst, paint)) return;
        const int dw = dst.right - dst.left, dh = dst.bottom - dst.top;
        const int sw = src.right - src.left, sh = src.bottom - src.top;
        if (alpha || fade < 255) {
            BLENDFUNCTION bf = {AC_SRC_OVER, 0, fade, static_cast<BYTE>(alpha ? AC_SRC_ALPHA : 0)};
            if (dw == sw && dh == sh) {
                // Unscaled: blend just the visible piece.
                int ox = visible.left - dst.left, oy = visible.top - dst.top;
                // gdi32's own entry point: msimg32 is no system-known DLL, so
                // importing it would let a planted copy load beside the program.
                GdiAlphaBlend(dc, visible.left, visible.top, visible.right - visible.left,
                              visible.bottom - visible.top, mem, src.left + ox, src.top + oy,
                              visible.right - visible.left, visible.bottom - visible.top, bf);
            } else {
                GdiAlphaBlend(dc, dst.left, dst.top, dw, dh, mem, src.left, src.top, sw, sh, bf);
            }
        } else if (dw == sw && dh == sh) {
            int ox = visible.left - dst.left, oy = visible.top - dst.top;
            BitBlt(dc, visible.left, visible.top, visible.right - visible.left, visible.bottom - visible.top, mem,
                   src.left + ox, src.top + oy, SRCCOPY);
        } else {
            int oldMode = SetStretchBltMode(dc, HALFTONE);
            POINT oldOrg;
            SetBrushOrgEx(dc, 0, 0, &oldOrg);
            StretchBlt(dc, dst.left, dst.top, dw, dh, mem, src.left, src.top, sw, sh, SRCCOPY);
            SetBrushOrgEx(dc, oldOrg.x, oldOrg.y, nullptr);
            SetStretchBltMode(dc, oldMode);
        }
    }

    // Fills `dst` with copies of `src`, tiling along the chosen axes and
    // stretching along the others; the last tile is cut at the edge.
    void Tiled(const RECT& dst, const RECT& src, bool xt, bool yt) const {
        const int sw = src.right - src.left, sh = src.bottom - src.top;
        if (sw <= 0 || sh <= 0 || IsEmpty(dst)) return;
        const int stepX = xt ? sw : dst.right - dst.left;
        const int stepY = yt ? sh : dst.bottom - dst.top;
        for (int y = dst.top; y < dst.bottom; y += stepY) {
            int h = std::min(stepY, static_cast<int>(dst.bottom - y));
            for (int x = dst.left; x < dst.right; x += stepX) {
                int w = std::min(stepX, static_cast<int>(dst.right - x));
                RECT d = {x, y, x + w, y + h};
                RECT s = src;
                if (xt) s.right = s.left + w;
                if (yt) s.bottom = s.top + h;
                Part(d, s);
            }
        }
    }
};

bool IsZero(const RECT& rc) { return rc.left == 0 && rc.top == 0 && rc.right == 0 && rc.bottom == 0; }

}  // namespace

void DrawImage(HDC dc, const TImageInfo& image, const RECT& dest, const RECT& paint, const ImageParts& parts) {
    if (!image.bitmap || IsEmpty(dest)) return;
    RECT check;
    if (!IntersectRects(check, dest, paint)) return;
    HDC mem = CreateCompatibleDC(dc);
    if (!mem) return;
    HGDIOBJ old = SelectObject(mem, image.bitmap);
    Blitter b{dc, mem, paint, image.alpha, parts.fade};
    const RECT& s = parts.source;
    const RECT& c = parts.corners;
    const RECT& k = IsZero(parts.sourceCorners) ? c : parts.sourceCorners;
    const bool noCorners = IsZero(c);
    if (noCorners && dest.right - dest.left == s.right - s.left && dest.bottom - dest.top == s.bottom - s.top) {
        b.Part(dest, s);
    } else {
        const RECT inner = {dest.left + c.left, dest.top + c.top, dest.right - c.right, dest.bottom - c.bottom};
        const RECT sc = {s.left + k.left, s.top + k.top, s.right - k.right, s.bottom - k.bottom};
        if (!parts.hole) {
            if (parts.xtiled || parts.ytiled)
                b.Tiled(inner, sc, parts.xtiled, parts.ytiled);
            else
                b.Part(inner, sc);
        }
        // Corners, unstretched (at most converted between the bitmap's scale
        // and the target's).
        b.Part({dest.left, dest.top, dest.left + c.left, dest.top + c.top},
               {s.left, s.top, s.left + k.left, s.top + k.top});
        b.Part({dest.right - c.right, dest.top, dest.right, dest.top + c.top},
               {s.right - k.right, s.top, s.right, s.top + k.top});
        b.Part({dest.left, dest.bottom - c.bottom, dest.left + c.left, dest.bottom},
               {s.left, s.bottom - k.bottom, s.left + k.left, s.bottom});
        b.Part({dest.right - c.right, dest.bottom - c.bottom, dest.right, dest.bottom},
               {s.right - k.right, s.bottom - k.bottom, s.right, s.bottom});
        // Edges, stretched along their length.
        b.Part({dest.left + c.left, dest.top, dest.right - c.right, dest.top + c.top},
               {s.left + k.left, s.top, s.right - k.right, s.top + k.top});
        b.Part({dest.left + c.left, dest.bottom - c.bottom, dest.right - c.right, dest.bottom},
               {s.left + k.left, s.bottom - k.bottom, s.right - k.right, s.bottom});
        b.Part({dest.left, dest.top + c.top, dest.left + c.left, dest.bottom - c.bottom},
               {s.left, s.top + k.top, s.left + k.left, s.bottom - k.bottom});
        b.Part({dest.right - c.right, dest.top + c.top, dest.right, dest.bottom - c.bottom},
               {s.right - k.right, s.top + k.top, s.right, s.bottom - k.bottom});
    }
    SelectObject(mem, old);
    DeleteDC(mem);
}

namespace {

void RgbToHsl(DWORD argb, float* h, float* s, float* l) {
    float r = ((argb >> 16) & 0xFF) / 255.0f, g = ((argb >> 8) & 0xFF) / 255.0f, b = (argb & 0xFF) / 255.0f;
    float mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
    *l = (mx + mn) / 2;
    if (mx == mn) {
        *h = 0;
        *s = 0;
        return;
    }
    float d = mx - mn;
    *s = *l > 0.5f ? d / (2 - mx - mn) : d / (mx + mn);
    if (mx == r)
        *h = (g - b) / d + (g < b ? 6 : 0);
    else if (mx == g)
        *h = (b - r) / d + 2;
    else
        *h = (r - g) / d + 4;
    *h *= 60;
}

float HueToRgb(float p, float q, float t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0f / 6) return p + (q - p) * 6 * t;
    if (t < 0.5f) return q;
    if (t < 2.0f / 3) return p + (q - p) * (2.0f / 3 - t) * 6;
    return p;
}

}  // namespace

DWORD AdjustColor(DWORD color, short hue, short saturation, short lightness) {
    if (hue == 180 && saturation == 100 && lightness == 100) return color;
    float h, s, l;
    RgbToHsl(color, &h, &s, &l);
    h += static_cast<float>(hue - 180);
    while (h < 0) h += 360;
    while (h >= 360) h -= 360;
    s = std::min(1.0f, s * saturation / 100.0f);
    l = std::min(1.0f, l * lightness / 100.0f);
    float r, g, b;
    if (s == 0) {
        r = g = b = l;
    } else {
        float q = l < 0.5f ? l * (1 + s) : l + s - l * s, p = 2 * l - q, hh = h / 360;
        r = HueToRgb(p, q, hh + 1.0f / 3);
        g = HueToRgb(p, q, hh);
        b = HueToRgb(p, q, hh - 1.0f / 3);
    }
    auto c = [](float v) { return static_cast<DWORD>(std::lround(std::min(1.0f, std::max(0.0f, v)) * 255)); };
    return (color & 0xFF000000u) | (c(r) << 16) | (c(g) << 8) | c(b);
}

void DrawPlainText(HDC dc, const RECT& rc, const wchar_t* text, DWORD color, HFONT font, UINT style) {
    if (!text || !*text || IsEmpty(rc)) return;
    RECT r = rc;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = SetTextColor(dc, ToColorRef(color));
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    DrawTextW(dc, text, -1, &r, style | DT_NOPREFIX);
    if (oldFont) SelectObject(dc, oldFont);
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
}

}  // namespace render

CRenderClip::~CRenderClip() {
    if (!dc_) return;
    SelectClipRgn(dc_, hadOld_ ? oldRgn_ : nullptr);
    if (oldRgn_) DeleteObject(oldRgn_);
    if (rgn_) DeleteObject(rgn_);
}

void CRenderClip::Generate(HDC dc, const RECT& rc) {
    dc_ = dc;
    oldRgn_ = CreateRectRgn(0, 0, 0, 0);
    hadOld_ = oldRgn_ && GetClipRgn(dc, oldRgn_) == 1;
    rgn_ = CreateRectRgnIndirect(&rc);
    if (hadOld_ && rgn_) CombineRgn(rgn_, rgn_, oldRgn_, RGN_AND);
    SelectClipRgn(dc, rgn_);
}

void CRenderClip::GenerateRound(HDC dc, const RECT& paint, const RECT& item, int cx, int cy) {
    dc_ = dc;
    oldRgn_ = CreateRectRgn(0, 0, 0, 0);
    hadOld_ = oldRgn_ && GetClipRgn(dc, oldRgn_) == 1;
    rgn_ = CreateRectRgnIndirect(&paint);
    HRGN round = CreateRoundRectRgn(item.left, item.top, item.right + 1, item.bottom + 1, cx, cy);
    if (rgn_ && round) CombineRgn(rgn_, rgn_, round, RGN_AND);
    if (round) DeleteObject(round);
    if (hadOld_ && rgn_) CombineRgn(rgn_, rgn_, oldRgn_, RGN_AND);
    SelectClipRgn(dc, rgn_);
}

void CRenderClip::UseOldClipBegin(HDC dc, CRenderClip& clip) { SelectClipRgn(dc, clip.hadOld_ ? clip.oldRgn_ : nullptr); }

void CRenderClip::UseOldClipEnd(HDC dc, CRenderClip& clip) { SelectClipRgn(dc, clip.rgn_); }
