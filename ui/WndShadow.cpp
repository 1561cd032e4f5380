#include "ui/WndShadow.h"

#include <cmath>
#include <map>

#include "Runtime/Logger.h"
#include "ui/DisplayScale.h"

namespace {

const wchar_t kClassName[] = L"OvShadowWnd";
const UINT kFirstUpdateMs = 1000;

// Posted to the owner after it has painted: the shadow is drawn once the
// owner's own frame is on screen, never in its way.
UINT DeferredUpdateMessage() {
    static const UINT message = RegisterWindowMessageW(L"OvShadowDeferredUpdate");
    return message;
}

using UpdateLayeredWindowProc = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);

struct ShadowGlobals {
    bool initialized = false;
    UpdateLayeredWindowProc updateLayered = nullptr;
    HINSTANCE instance = nullptr;
    std::map<HWND, CWndShadow*> owners;
};

ShadowGlobals& Globals() {
    static ShadowGlobals g;
    return g;
}

// Fade of the edges towards the corners: sin(x * pi/2 / N^1.4).
double Ramp(int x, int n) { return std::sin(x * 1.570796327 / std::pow(static_cast<double>(n), 1.4)); }

uint32_t ShadowPixel(int v, DWORD rgb) {
    const uint32_t r = ((rgb >> 16) & 0xFF) * static_cast<uint32_t>(v) / 255;
    const uint32_t g = ((rgb >> 8) & 0xFF) * static_cast<uint32_t>(v) / 255;
    const uint32_t b = (rgb & 0xFF) * static_cast<uint32_t>(v) / 255;
    return (static_cast<uint32_t>(v) << 24) | (r << 16) | (g << 8) | b;
}

// Applies both corner fades of an edge of length `len` at position k.
int Faded(int v, int k, int len, int n) {
    if (k < 3 * n) v = static_cast<int>(Ramp(k, n) * v);
    if (k > len - 3 * n) v = static_cast<int>(Ramp(len - k, n) * v);
    return v;
}

}  // namespace

bool CWndShadow::Initialize(HINSTANCE instance) {
    ShadowGlobals& g = Globals();
    if (g.initialized) return g.updateLayered != nullptr;
    g.initialized = true;
    g.instance = instance;
    HMODULE user32 = GetModuleHandleW(L"USER32.DLL");
    if (user32)
        g.updateLayered = reinterpret_cast<UpdateLayeredWindowProc>(
            reinterpret_cast<void*>(GetProcAddress(user32, "UpdateLayeredWindow")));
    if (!g.updateLayered) {
        OV_LOG(LOG_WARN, L".\\ui\\WndShadow", L"UpdateLayeredWindow unavailable: no window shadows");
        return false;
    }
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        OV_LOG(LOG_ERROR, L".\\ui\\WndShadow", L"shadow class not registered (%u)", GetLastError());
        g.updateLayered = nullptr;
        return false;
    }
    return true;
}

bool CWndShadow::IsAvailable() { return Globals().updateLayered != nullptr; }

CWndShadow* CWndShadow::FromOwner(HWND owner) {
    auto it = Globals().owners.find(owner);
    return it == Globals().owners.end() ? nullptr : it->second;
}

CWndShadow::~CWndShadow() = default;

std::vector<int> CWndShadow::RingAlphas(int n) {
    std::vector<int> out;
    if (n <= 0) return out;
    const double scale = std::pow(static_cast<double>(n), 2.4);
    for (int t = 0; t < n; ++t)
        out.push_back(static_cast<int>(std::sin(std::pow(t + 1.0, 2.5) * 0.4712388981 / scale) * 255));
    return out;
}

void CWndShadow::DrawShadow(uint32_t* pixels, int width, int height, int n, DWORD rgb) {
    if (!pixels || width <= 0 || height <= 0 || n <= 0) return;
    auto put = [&](int x, int y, int v) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = ShadowPixel(v, rgb);
    };
    const std::vector<int> alpha = RingAlphas(n);
    for (int t = 0; t < n; ++t) {
        const int side = static_cast<int>(alpha[static_cast<size_t>(t)] * 0.46);
        for (int k = t; k <= height - 1 - t; ++k) {
            const int v = Faded(side, k, height, n);
            put(t, k, v);
            put(width - 1 - t, k, v);
        }
        const int top = static_cast<int>(alpha[static_cast<size_t>(t)] * 0.2);
        for (int k = t; k <= width - 1 - t; ++k) put(k, t, Faded(top, k, width, n));
        for (int k = t; k <= width - 1 - t; ++k) put(k, height - 2 - t, Faded(side, k, width, n));
    }
}

HWND CWndShadow::Create(HWND owner) {
    ShadowGlobals& g = Globals();
    if (!g.updateLayered || !owner || wnd_) return nullptr;
    g.owners[owner] = this;
    wnd_ = CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT, kClassName, kClassName, WS_POPUPWINDOW, CW_USEDEFAULT, 0,
                           0, 0, owner, nullptr, g.instance, nullptr);
    if (!wnd_) {
        OV_LOG(LOG_ERROR, L".\\ui\\WndShadow", L"shadow window not created (%u)", GetLastError());
        g.owners.erase(owner);
        return nullptr;
    }
    status_ = kEnabled;
    Show(owner);
    SetTimer(wnd_, reinterpret_cast<UINT_PTR>(this), kFirstUpdateMs, TimerProc);
    ::ShowWindow(wnd_, SW_HIDE);
    prevProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWndShadow::OwnerProc)));
    return wnd_;
}

void CALLBACK CWndShadow::TimerProc(HWND hwnd, UINT, UINT_PTR id, DWORD) {
    KillTimer(hwnd, id);
    HWND owner = GetWindow(hwnd, GW_OWNER);
    // Looked up by owner rather than trusting the id: the object may be gone.
    CWndShadow* self = FromOwner(owner);
    if (!self || self->wnd_ != hwnd) return;
    self->updatePending_ = true;
    self->Update(owner);
}

int CWndShadow::GetSize() const { return dpi::Scale(size_, dpi_); }

void CWndShadow::SetDpi(int dpi) {
    if (dpi < 48 || dpi > 960 || dpi == dpi_) return;
    dpi_ = dpi;
    // Drawn at once when shown; otherwise with the next show.
    HWND owner = wnd_ ? GetWindow(wnd_, GW_OWNER) : nullptr;
    if (owner && (status_ & kShown)) Update(owner);
}

void CWndShadow::Show(HWND owner) {
    status_ &= kEnabled;
    if ((status_ & kEnabled) && (GetWindowLongW(owner, GWL_STYLE) & WS_VISIBLE)) {
        status_ |= kOwnerVisible;
        if (!IsZoomed(owner) && !IsIconic(owner)) status_ |= kShown;
    }
    if (status_ & kShown) {
        ::ShowWindow(wnd_, SW_SHOWNA);
        Update(owner);
    } else {
        ::ShowWindow(wnd_, SW_HIDE);
    }
}

void CWndShadow::Update(HWND owner) {
    ShadowGlobals& g = Globals();
    RECT r;
    if (!g.updateLayered || !wnd_ || !GetWindowRect(owner, &r)) return;
    const int n = GetSize();
    const int w = r.right - r.left + 2 * n;
    const int h = r.bottom - r.top + 2 * n;
    if (w <= 0 || h <= 0) return;

    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down, as DrawShadow writes its rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp || !bits) {
        OV_LOG(LOG_ERROR, L".\\ui\\WndShadow", L"shadow bitmap %dx%d not created", w, h);
        if (bmp) DeleteObject(bmp);
        return;
    }
    // Drawn straight into the section, which the system hands out zeroed.
    DrawShadow(static_cast<uint32_t*>(bits), w, h, n, color_);

    POINT pos = {r.left + dpi::Scale(xOffset_, dpi_) - n, r.top + dpi::Scale(yOffset_, dpi_) - n};
    MoveWindow(wnd_, pos.x, pos.y, w, h, FALSE);
    HDC mem = CreateCompatibleDC(nullptr);
    if (mem) {
        HGDIOBJ old = SelectObject(mem, bmp);
        POINT src = {0, 0};
        SIZE size = {w, h};
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        if (!g.updateLayered(wnd_, nullptr, &pos, &size, mem, &src, 0, &blend, ULW_ALPHA))
            OV_LOG(LOG_WARN, L".\\ui\\WndShadow", L"UpdateLayeredWindow failed (%u)", GetLastError());
        SelectObject(mem, old);
        DeleteDC(mem);
    }
    DeleteObject(bmp);
}

LRESULT CALLBACK CWndShadow::OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CWndShadow* self = FromOwner(hwnd);
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->HandleOwnerMessage(hwnd, msg, wParam, lParam);
}

LRESULT CWndShadow::HandleOwnerMessage(HWND owner, UINT msg, WPARAM wParam, LPARAM lParam) {
    const WNDPROC prev = prevProc_;
    if (msg == DeferredUpdateMessage()) {
        Show(owner);  // updates the bitmap when the shadow is shown
        return 0;
    }
    switch (msg) {
        case WM_DESTROY:
            if (wnd_) DestroyWindow(wnd_);
            wnd_ = nullptr;
            break;
        case WM_MOVE:
            if (status_ & kShown) {
                const LRESULT r = CallWindowProcW(prev, owner, msg, wParam, lParam);
                RECT rc;
                if (GetWindowRect(owner, &rc))
                    SetWindowPos(wnd_, HWND_TOP, rc.left + dpi::Scale(xOffset_, dpi_) - GetSize(),
                                 rc.top + dpi::Scale(yOffset_, dpi_) - GetSize(), 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
                return r;
            }
            break;
        case WM_SIZE:
            if (status_ & kEnabled) {
                const WORD cx = LOWORD(lParam), cy = HIWORD(lParam);
                if (wParam == SIZE_MAXIMIZED || wParam == SIZE_MINIMIZED) {
                    ::ShowWindow(wnd_, SW_HIDE);
                    status_ &= ~kShown;
                } else if (GetWindowLongW(owner, GWL_STYLE) & WS_VISIBLE) {
                    status_ |= kOwnerVisible;
                    if (!(status_ & kShown)) {
                        const LRESULT r = CallWindowProcW(prev, owner, msg, wParam, lParam);
                        status_ |= kShown;
                        Update(owner);
                        ::ShowWindow(wnd_, SW_SHOWNA);
                        updatePending_ = true;
                        lastWidth_ = cx;
                        lastHeight_ = cy;
                        return r;
                    }
                    // Growing is redrawn on the owner's next paint, when the
                    // new size has settled; shrinking at once.
                    if (cx > lastWidth_ || cy > lastHeight_)
                        updatePending_ = true;
                    else
                        Update(owner);
                }
                lastWidth_ = cx;
                lastHeight_ = cy;
            }
            break;
        case WM_PAINT: {
            const LRESULT r = CallWindowProcW(prev, owner, msg, wParam, lParam);
            if (updatePending_) {
                updatePending_ = false;
                if (!PostMessageW(owner, DeferredUpdateMessage(), 0, 0))
                    Show(owner);
            }
            return r;
        }
        case WM_SHOWWINDOW:
            if (status_ & kEnabled) {
                const LRESULT r = CallWindowProcW(prev, owner, msg, wParam, lParam);
                if (wParam) {
                    // Shown with the owner's first paint after this: drawing
                    // the shadow here would hold that paint back.
                    status_ |= kOwnerVisible | kShown;
                    updatePending_ = true;
                } else {
                    ::ShowWindow(wnd_, SW_HIDE);
                    status_ &= ~(kOwnerVisible | kShown);
                }
                return r;
            }
            break;
        case WM_EXITSIZEMOVE:
            if (status_ & kShown) Update(owner);
            break;
        case WM_DWMCOMPOSITIONCHANGED:
            Show(owner);
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(prev));
            Globals().owners.erase(owner);
            delete this;
            return CallWindowProcW(prev, owner, msg, wParam, lParam);
        default:
            break;
    }
    return CallWindowProcW(prev, owner, msg, wParam, lParam);
}
