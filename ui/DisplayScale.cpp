#include "ui/DisplayScale.h"

namespace dpi {

int Convert(int v, int from, int to) {
    if (from == to || from <= 0 || to <= 0) return v;
    // Twice the quotient, so that exact halves are seen and go away from zero.
    const long long n = static_cast<long long>(v) * to;
    const long long q = ((n >= 0 ? n : -n) * 2 + from) / (2LL * from);
    return static_cast<int>(n >= 0 ? q : -q);
}

int Scale(int v, int dpi) { return Convert(v, kDesign, dpi); }
int Unscale(int px, int dpi) { return Convert(px, dpi, kDesign); }

RECT ConvertRect(const RECT& rc, int from, int to) {
    return RECT{Convert(rc.left, from, to), Convert(rc.top, from, to), Convert(rc.right, from, to),
                Convert(rc.bottom, from, to)};
}

RECT ScaleRect(const RECT& rc, int dpi) { return ConvertRect(rc, kDesign, dpi); }

SIZE ScaleSize(SIZE size, int dpi) { return SIZE{Scale(size.cx, dpi), Scale(size.cy, dpi)}; }

RECT PlaceRect(POINT origin, const RECT& design, int dpi) {
    const RECT s = ScaleRect(design, dpi);
    return RECT{origin.x + s.left, origin.y + s.top, origin.x + s.right, origin.y + s.bottom};
}

int QueryWindowDpi(HWND window) {
    int value = 0;
    // Resolved at run time: older systems have no GetDpiForWindow.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const GetDpiForWindowFn getDpiForWindow = [] {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        return user32 ? reinterpret_cast<GetDpiForWindowFn>(
                            reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")))
                      : nullptr;
    }();
    if (getDpiForWindow && window) value = static_cast<int>(getDpiForWindow(window));
    if (value <= 0) {
        HDC screen = GetDC(nullptr);
        if (screen) {
            value = GetDeviceCaps(screen, LOGPIXELSX);
            ReleaseDC(nullptr, screen);
        }
    }
    return value >= 48 && value <= 960 ? value : kDesign;
}

}  // namespace dpi
