#pragma once
// Drawing primitives of the toolkit over GDI and msimg32: colour fills with the
// AARRGGBB alpha rule, gradients, lines and outlines, nine-part image drawing,
// plain text, and clip regions. Every routine draws only where it meets the
// paint rectangle it is given, so callers can pass the window's dirty area.
//
// Threads: whichever thread owns the device context (the UI thread here).

#include <windows.h>

struct TImageInfo;

namespace render {

// alpha 0 draws nothing; alpha 255 fills opaquely; anything else blends the
// colour over the background with that alpha as constant opacity.
void DrawColor(HDC dc, const RECT& rc, DWORD color);
// `steps` bands from c1 to c2, top to bottom (vertical) or left to right.
void DrawGradient(HDC dc, const RECT& rc, DWORD c1, DWORD c2, bool vertical, int steps);
// Line from (rc.left, rc.top) to (rc.right, rc.bottom).
void DrawLine(HDC dc, const RECT& rc, int size, DWORD color, int penStyle = PS_SOLID);
void DrawRect(HDC dc, const RECT& rc, int size, DWORD color);
void DrawRoundRect(HDC dc, const RECT& rc, int size, int cx, int cy, DWORD color);

struct ImageParts {
    RECT source = {0, 0, 0, 0};   // part of the bitmap to use
    RECT corners = {0, 0, 0, 0};  // fixed border widths of a nine-part image
    // The same borders in the bitmap's pixels when it is drawn for another
    // scale than the target; all zero: the same as `corners`.
    RECT sourceCorners = {0, 0, 0, 0};
    BYTE fade = 255;
    bool hole = false;
    bool xtiled = false;
    bool ytiled = false;
};
// Nine-part drawing of `image` into `dest`: corners unscaled, edges stretched
// along their length, the centre stretched or tiled (or left out with hole).
void DrawImage(HDC dc, const TImageInfo& image, const RECT& dest, const RECT& paint, const ImageParts& parts);

// Hue/saturation/lightness adjustment; (180, 100, 100) leaves colours as they are.
DWORD AdjustColor(DWORD color, short hue, short saturation, short lightness);

// DrawText with the given font and colour, transparent background.
void DrawPlainText(HDC dc, const RECT& rc, const wchar_t* text, DWORD color, HFONT font, UINT style);

bool IntersectRects(RECT& out, const RECT& a, const RECT& b);
bool IsEmpty(const RECT& rc);

}  // namespace render

// Restricts drawing on a device context to a rectangle (optionally rounded)
// for the lifetime of the object and restores the previous clip after.
class CRenderClip {
public:
    CRenderClip() = default;
    ~CRenderClip();
    void Generate(HDC dc, const RECT& rc);
    void GenerateRound(HDC dc, const RECT& paint, const RECT& item, int cx, int cy);
    // Temporarily widens or replaces the clip (used for floating children).
    static void UseOldClipBegin(HDC dc, CRenderClip& clip);
    static void UseOldClipEnd(HDC dc, CRenderClip& clip);

private:
    HDC dc_ = nullptr;
    HRGN rgn_ = nullptr;
    HRGN oldRgn_ = nullptr;
    bool hadOld_ = false;
    CRenderClip(const CRenderClip&) = delete;
    CRenderClip& operator=(const CRenderClip&) = delete;
};
