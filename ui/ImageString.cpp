#include "ui/ImageString.h"

#include <algorithm>
#include <cwchar>
#include <functional>

#include "ui/DisplayScale.h"
#include "ui/ImageLoader.h"
#include "ui/PaintHost.h"
#include "ui/Render.h"
#include "ui/UIAttr.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

RECT Clamp(RECT rc, const RECT& item) {
    if (rc.right > item.right) rc.right = item.right;
    if (rc.bottom > item.bottom) rc.bottom = item.bottom;
    return rc;
}

// Reads one description string into `s`, calling `emit` for every part that
// a later "file"/"res"/"restype" key completes before the end of the string.
// "dest" and "rdest" are scaled from 96 to `scaleDpi` (the window's dpi for a
// description; 96, no change, for a modifier in window pixels); "source" is
// recorded as written for `sourceDpi`.
void ParseOne(const wchar_t* text, const RECT& item, int scaleDpi, int sourceDpi, ImageDrawSettings& s,
              const std::function<void(const ImageDrawSettings&)>& emit) {
    int pending = 0;
    const wchar_t* p = text;
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (!*p) return;
        std::wstring key;
        while (*p && *p != L'=' && !IsBlank(*p)) key += *p++;
        while (IsBlank(*p)) ++p;
        if (*p != L'=') return;
        ++p;
        while (IsBlank(*p)) ++p;
        if (*p != L'\'') return;
        ++p;
        std::wstring value;
        while (*p && *p != L'\'') value += *p++;
        if (*p != L'\'') return;
        ++p;

        if (!value.empty()) {
            const wchar_t* v = value.c_str();
            if (key == L"file" || key == L"res" || key == L"restype") {
                if (pending > 0) emit(s);
                if (key == L"restype") {
                    s.resType = value;
                    ++pending;
                } else {
                    s.name = value;
                    if (key == L"file") ++pending;
                }
            } else if (key == L"dest") {
                s.dest = Clamp(dpi::PlaceRect(POINT{item.left, item.top}, uiattr::ParseRect(v), scaleDpi), item);
            } else if (key == L"rdest") {
                s.dest = Clamp(dpi::PlaceRect(POINT{item.right, item.bottom}, uiattr::ParseRect(v), scaleDpi), item);
            } else if (key == L"source") {
                s.source = uiattr::ParseRect(v);
                s.sourceSet = true;
                s.sourceDpi = sourceDpi;
            } else if (key == L"corner") {
                s.corner = uiattr::ParseRect(v);
            } else if (key == L"centerrect") {
                s.centerRect = uiattr::ParseRect(v);
            } else if (key == L"mask") {
                s.mask = uiattr::ParseColor(v);
            } else if (key == L"fade") {
                s.fade = static_cast<BYTE>(std::min(255, std::max(0, uiattr::ParseInt(v))));
            } else if (key == L"hole") {
                s.hole = uiattr::ParseBool(v);
            } else if (key == L"xtiled") {
                s.xtiled = uiattr::ParseBool(v);
            } else if (key == L"ytiled") {
                s.ytiled = uiattr::ParseBool(v);
            } else if (key == L"stretch") {
                s.stretch = uiattr::ParseBool(v);
            } else if (key == L"center") {
                s.center = uiattr::ParseBool(v);
            } else if (key == L"aligntop") {
                s.alignTop = uiattr::ParseBool(v);
            } else if (key == L"alignleft") {
                s.alignLeft = uiattr::ParseBool(v);
            } else if (key == L"roundcorner") {
                s.roundCorner = uiattr::ParseSize(v);
            }
            // "gray", "angle" and unknown keys are accepted without effect.
        }
        // Exactly one blank must follow a value for the list to go on.
        if (*p != L' ') return;
        ++p;
    }
}

}  // namespace

std::vector<ImageDrawSettings> PlanImageString(const RECT& item, const wchar_t* description, const wchar_t* modifier,
                                               int dpi) {
    std::vector<ImageDrawSettings> parts;
    ImageDrawSettings s;
    s.dest = item;
    auto emit = [&parts](const ImageDrawSettings& st) { parts.push_back(st); };
    if (description) {
        s.name = description;  // a bare file name works as a whole description
        ParseOne(description, item, dpi, dpi::kDesign, s, emit);
    }
    if (modifier) ParseOne(modifier, item, dpi::kDesign, dpi, s, emit);
    parts.push_back(s);
    return parts;
}

bool DrawImagePart(HDC dc, CPaintHostUI* manager, const RECT& item, const RECT& paint, const ImageDrawSettings& part) {
    if (part.name.empty()) return true;
    const TImageInfo* image = nullptr;
    TImageInfo* owned = nullptr;
    const wchar_t* type = part.resType.empty() ? nullptr : part.resType.c_str();
    if (manager)
        image = manager->GetImageEx(part.name, type, part.mask);
    else
        image = owned = LoadSkinImage(part.name, type, part.mask);
    if (!image) return false;

    RECT dest = part.dest;
    RECT check;
    if (!render::IntersectRects(check, dest, item) || !render::IntersectRects(check, dest, paint)) {
        FreeImage(owned);
        return true;
    }
    // The bitmap may be drawn for another dpi than the window's (a skin image
    // without a @2x version); its pixels are converted, never assumed equal.
    const int windowDpi = manager ? manager->GetDpi() : dpi::kDesign;
    const int imageDpi = image->dpi > 0 ? image->dpi : dpi::kDesign;
    RECT source = part.sourceSet ? dpi::ConvertRect(part.source, part.sourceDpi, imageDpi)
                                 : RECT{0, 0, image->width, image->height};
    if (source.right > image->width) source.right = image->width;
    if (source.bottom > image->height) source.bottom = image->height;
    if (source.left < 0) source.left = 0;
    if (source.top < 0) source.top = 0;
    const int sw = source.right - source.left, sh = source.bottom - source.top;
    if (sw <= 0 || sh <= 0) {
        FreeImage(owned);
        return true;
    }

    if (!part.stretch) {
        const int dw = dest.right - dest.left, dh = dest.bottom - dest.top;
        if (part.center) {
            // The natural size, in window pixels.
            const int nw = dpi::Convert(sw, imageDpi, windowDpi), nh = dpi::Convert(sh, imageDpi, windowDpi);
            if (dw >= nw && dh >= nh) {
                dest.left += (dw - nw) / 2;
                dest.top += (dh - nh) / 2;
                dest.right = dest.left + nw;
                dest.bottom = dest.top + nh;
            }
        } else {
            int w = dh * sw / sh, h = dw * sh / sw;
            if (w < dw) {
                dest.left += (dw - w) / 2;
                dest.right = dest.left + w;
            } else if (h < dh) {
                dest.top += (dh - h) / 2;
                dest.bottom = dest.top + h;
            }
        }
    }

    const RECT& cr = part.centerRect;
    if (cr.left || cr.top || cr.right || cr.bottom) {
        // Centre-rectangle mode: the part is drawn at the size the rectangle
        // gives, centred in the target (or at its left / top edge), never
        // beyond the target.
        int w = std::min(static_cast<int>(cr.right - cr.left), static_cast<int>(dest.right - dest.left));
        int h = std::min(static_cast<int>(cr.bottom - cr.top), static_cast<int>(dest.bottom - dest.top));
        if (w <= 0 || h <= 0) {
            FreeImage(owned);
            return true;
        }
        RECT d;
        d.left = part.alignLeft ? dest.left : dest.left + (dest.right - dest.left - w) / 2;
        d.top = part.alignTop ? dest.top : dest.top + (dest.bottom - dest.top - h) / 2;
        d.right = d.left + w;
        d.bottom = d.top + h;
        dest = d;
    }

    render::ImageParts parts;
    parts.source = source;
    parts.corners = dpi::ScaleRect(part.corner, windowDpi);
    parts.sourceCorners = dpi::ScaleRect(part.corner, imageDpi);
    parts.fade = part.fade;
    parts.hole = part.hole;
    parts.xtiled = part.xtiled;
    parts.ytiled = part.ytiled;
    if (part.roundCorner.cx > 0 || part.roundCorner.cy > 0) {
        CRenderClip clip;
        const SIZE round = dpi::ScaleSize(part.roundCorner, windowDpi);
        clip.GenerateRound(dc, paint, dest, round.cx * 2, round.cy * 2);
        render::DrawImage(dc, *image, dest, paint, parts);
    } else {
        render::DrawImage(dc, *image, dest, paint, parts);
    }
    FreeImage(owned);
    return true;
}

bool DrawImageString(HDC dc, CPaintHostUI* manager, const RECT& item, const RECT& paint, const wchar_t* description,
                     const wchar_t* modifier) {
    if ((!description || !*description) && (!modifier || !*modifier)) return true;
    bool ok = true;
    for (const ImageDrawSettings& part :
         PlanImageString(item, description, modifier, manager ? manager->GetDpi() : dpi::kDesign))
        if (!DrawImagePart(dc, manager, item, paint, part)) ok = false;
    return ok;
}
