#pragma once
// The display scale of one window: markup and images are drawn for 96 dpi
// ("design pixels"); a window on a screen of another dpi shows them at
// dpi/96. One rounding rule everywhere: a design coordinate v becomes
// v * dpi / 96 rounded half away from zero. Rectangles are scaled edge by
// edge (never by width), so two controls that touch in the markup still
// touch on the screen and a control's right edge is where the next begins.
//
// Plain numbers only; QueryWindowDpi is the one call into the platform.
// Threads: any (no state).

#include <windows.h>

namespace dpi {

const int kDesign = 96;

// v * to / from, rounded half away from zero (v measured at `from` dpi,
// wanted at `to`).
int Convert(int v, int from, int to);
RECT ConvertRect(const RECT& rc, int from, int to);
// v * dpi / 96, rounded half away from zero.
int Scale(int v, int dpi);
// The design value whose scaled value is nearest to `px` (the inverse of
// Scale for dpi >= 96).
int Unscale(int px, int dpi);
// Each edge scaled on its own.
RECT ScaleRect(const RECT& rc, int dpi);
SIZE ScaleSize(SIZE size, int dpi);
// A rectangle given in design pixels relative to `origin` (already in
// screen pixels), placed in screen pixels: origin + Scale(edge).
RECT PlaceRect(POINT origin, const RECT& design, int dpi);

// The dpi the window is shown at: GetDpiForWindow where the system has it,
// else the screen's LOGPIXELSX, else 96. Values outside 48..960 give 96.
int QueryWindowDpi(HWND window);

}  // namespace dpi
