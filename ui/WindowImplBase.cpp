#include "ui/WindowImplBase.h"

#include <cwchar>

#include "Runtime/Logger.h"
#include "Runtime/StartupTrace.h"
#include "ui/Control.h"
#include "ui/DisplayScale.h"
#include "ui/LayoutBuilder.h"
#include "ui/SkinResources.h"
#include "ui/WndShadow.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace {

// Windows build their skin with the layout builder unless told otherwise.
LayoutBuildProc g_builder = &BuildWindowLayout;

// Caption of the box shown when a layout cannot be built.
const wchar_t kFrameworkName[] = L"OvUI";
const wchar_t kLoadFailedText[] = L"加载资源文件失败";

std::wstring ModuleDir() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    std::wstring dir(path, n);
    size_t slash = dir.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash + 1);
}

}  // namespace

void SetLayoutBuilder(LayoutBuildProc proc) { g_builder = proc; }

void ShowLayoutFailure() { MessageBoxW(nullptr, kLoadFailedText, kFrameworkName, MB_OK | MB_ICONSTOP); }

OV_NOTIFY_MAP_BEGIN_ROOT(WindowImplBase)
OV_NOTIFY_ON_RECORD(L"click", L"", &WindowImplBase::OnClick)
OV_NOTIFY_MAP_END()

WindowImplBase::WindowImplBase() = default;
WindowImplBase::~WindowImplBase() {
    // A window outliving its object would route messages into freed memory:
    // unbind it first, then take it down while the paint manager still exists.
    if (hwnd_ && IsWindow(hwnd_)) {
        HWND hwnd = hwnd_;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        paintHost_.RemovePreMessageFilter(this);
        paintHost_.RemoveNotifier(this);
        DestroyWindow(hwnd);
    }
}

HWND WindowImplBase::Create(HWND parent, const wchar_t* title, DWORD style, DWORD exStyle, int x, int y, int cx, int cy,
                            HMENU menu) {
    HWND hwnd = CWindowWnd::Create(parent, title, style, exStyle, x, y, cx, cy, menu);
    if (hwnd && cx != 0 && cy != 0 && cx != CW_USEDEFAULT && cy != CW_USEDEFAULT)
        SetWindowPos(hwnd, nullptr, x == CW_USEDEFAULT ? 0 : x, y == CW_USEDEFAULT ? 0 : y, cx, cy,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED |
                         (x == CW_USEDEFAULT || y == CW_USEDEFAULT ? SWP_NOMOVE : 0));
    return hwnd;
}

CControlUI* WindowImplBase::BuildRoot() { return g_builder ? g_builder(*this) : nullptr; }

LONG WindowImplBase::WindowStyle() const {
    return static_cast<LONG>(GetWindowLongW(hwnd_, GWL_STYLE) & ~WS_CAPTION);
}

bool WindowImplBase::IsDraggable(const CControlUI* control) {
    static const wchar_t* const kDraggable[] = {L"VerticalLayoutUI", L"HorizontalLayoutUI", L"TileLayoutUI",
                                                L"TabLayoutUI",      L"ChildLayoutUI",      L"ControlUI",
                                                L"ContainerUI",      L"ProgressUI",         L"LabelUI"};
    for (const CControlUI* c = control; c; c = c->GetParent()) {
        bool ok = false;
        for (const wchar_t* name : kDraggable)
            if (_wcsicmp(c->ClassName(), name) == 0) ok = true;
        if (!ok) return false;
    }
    return true;
}

LRESULT WindowImplBase::OnNcHitTest(UINT, WPARAM, LPARAM lParam, bool& handled) {
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ScreenToClient(hwnd_, &pt);
    RECT client;
    GetClientRect(hwnd_, &client);
    if (!IsZoomed(hwnd_)) {
        const RECT box = paintHost_.Px(paintHost_.GetSizeBox());
        if (pt.y < client.top + box.top) {
            if (pt.x < client.left + box.left) return HTTOPLEFT;
            if (pt.x > client.right - box.right) return HTTOPRIGHT;
            return HTTOP;
        }
        if (pt.y > client.bottom - box.bottom) {
            if (pt.x < client.left + box.left) return HTBOTTOMLEFT;
            if (pt.x > client.right - box.right) return HTBOTTOMRIGHT;
            return HTBOTTOM;
        }
        if (pt.x < client.left + box.left) return HTLEFT;
        if (pt.x > client.right - box.right) return HTRIGHT;
    }
    const RECT cap = paintHost_.Px(paintHost_.GetCaptionRect());
    if (pt.x >= client.left + cap.left && pt.x < client.right - cap.right && pt.y >= cap.top && pt.y < cap.bottom) {
        paintHost_.UpdateLayout();
        if (IsDraggable(paintHost_.FindControl(pt))) return HTCAPTION;
    }
    return HTCLIENT;
}

LRESULT WindowImplBase::OnCreate(UINT, WPARAM, LPARAM, bool& handled) {
    CStartupTrace::Mark("native-window");
    SetWindowLongW(hwnd_, GWL_STYLE, WindowStyle() | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    paintHost_.Init(hwnd_);
    paintHost_.AddPreMessageFilter(this);
    if (CSkinResources::ResourcePath().empty()) CSkinResources::SetResourcePath(ModuleDir() + SkinFolder());
    switch (SkinSource()) {
        case kSkinZipFile:
            CSkinResources::SetResourceZip(SkinArchiveName(), true);
            break;
        case kSkinZipResource:
            if (!CSkinResources::LoadArchiveCopyFromResource(CSkinResources::Instance(), L"ZIPRES", SkinResourceId())) {
                OV_LOG(LOG_ERROR, L".\\ui\\WindowImplBase", L"skin archive resource missing or empty");
                return 0;
            }
            CSkinResources::SetResourceZipFromCopy();
            break;
        default:
            break;
    }
    CControlUI* root = BuildRoot();
    CStartupTrace::Mark("skin-layout");
    if (!root) {
        OV_LOG(LOG_ERROR, L".\\ui\\WindowImplBase", L"layout %s could not be built", SkinFile().c_str());
        // -1 makes CreateWindowEx destroy the window and return null.
        layoutFailed_ = true;
        return -1;
    }
    paintHost_.AttachRoot(root);
    paintHost_.AddNotifier(this);
    if (paintHost_.IsShadow() && !paintHost_.IsSelfShadow()) CreateShadow();
    if (shadow_) shadow_->SetDpi(paintHost_.GetDpi());
    CStartupTrace::Mark("shadow");
    PrepareWindow();
    CStartupTrace::Mark("prepared");
    return 0;
}

void WindowImplBase::CreateShadow() {
    if (shadow_ || !CWndShadow::Initialize(CSkinResources::Instance())) return;
    auto* shadow = new CWndShadow;
    if (!shadow->Create(hwnd_)) {
        delete shadow;
        return;
    }
    shadow_ = shadow;
}

void WindowImplBase::OnWindowDestroyed(HWND) {
    shadow_ = nullptr;  // it deleted itself with the window
    // A screen reader may hold the window's accessible object for longer.
    paintHost_.DisconnectAccessible();
    paintHost_.RemovePreMessageFilter(this);
    paintHost_.RemoveNotifier(this);
    paintHost_.ReapObjects(paintHost_.GetRoot());
}

LRESULT WindowImplBase::OnClose(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}
LRESULT WindowImplBase::OnDestroy(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT WindowImplBase::OnNcActivate(UINT, WPARAM wParam, LPARAM, bool& handled) {
    if (IsIconic(hwnd_)) {
        handled = false;
        return 0;
    }
    return wParam == 0 ? TRUE : FALSE;
}

LRESULT WindowImplBase::OnNcCalcSize(UINT, WPARAM wParam, LPARAM lParam, bool&) {
    if (!IsZoomed(hwnd_)) return 0;
    RECT* proposed = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (!GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &mi)) return 0;
    proposed->right = proposed->left + (mi.rcWork.right - mi.rcWork.left);
    proposed->bottom = proposed->top + (mi.rcWork.bottom - mi.rcWork.top);
    return WVR_REDRAW;
}

LRESULT WindowImplBase::OnNcPaint(UINT, WPARAM, LPARAM, bool&) { return 0; }

LRESULT WindowImplBase::OnNcLButtonDown(UINT, WPARAM, LPARAM, bool& handled) {
    paintHost_.SetFocus(nullptr);
    handled = false;
    return 0;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, bool& handled) {
    MINMAXINFO* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &mi)) {
        mmi->ptMaxPosition.x = mi.rcWork.left - mi.rcMonitor.left;
        mmi->ptMaxPosition.y = mi.rcWork.top - mi.rcMonitor.top;
        mmi->ptMaxTrackSize.x = mi.rcWork.right - mi.rcWork.left;
        mmi->ptMaxTrackSize.y = mi.rcWork.bottom - mi.rcWork.top;
    }
    const SIZE minInfo = paintHost_.Px(paintHost_.GetMinInfo());
    mmi->ptMinTrackSize.x = minInfo.cx;
    mmi->ptMinTrackSize.y = minInfo.cy;
    handled = false;
    return 0;
}

LRESULT WindowImplBase::OnSize(UINT, WPARAM wParam, LPARAM, bool& handled) {
    handled = false;
    const SIZE corner = paintHost_.Px(paintHost_.GetRoundCorner());
    if (wParam == SIZE_MINIMIZED || IsIconic(hwnd_) || (corner.cx == 0 && corner.cy == 0)) return 0;
    RECT rc;
    if (!GetWindowRect(hwnd_, &rc)) return 0;
    HRGN rgn = CreateRoundRectRgn(0, 0, rc.right - rc.left + 1, rc.bottom - rc.top + 1, corner.cx, corner.cy);
    if (rgn && !SetWindowRgn(hwnd_, rgn, TRUE)) DeleteObject(rgn);  // the system owns it only on success
    return 0;
}

LRESULT WindowImplBase::OnDpiChanged(UINT, WPARAM wParam, LPARAM lParam, bool&) {
    const int oldDpi = paintHost_.GetDpi();
    const int newDpi = LOWORD(wParam);
    paintHost_.SetDpi(newDpi);
    if (paintHost_.GetDpi() == oldDpi) return 0;  // refused (out of range) or no change
    if (shadow_) shadow_->SetDpi(newDpi);
    RECT rc;
    if (lParam) {
        rc = *reinterpret_cast<const RECT*>(lParam);
    } else if (GetWindowRect(hwnd_, &rc)) {
        // No suggestion: the same top-left corner, the size at the new scale.
        rc.right = rc.left + dpi::Convert(rc.right - rc.left, oldDpi, newDpi);
        rc.bottom = rc.top + dpi::Convert(rc.bottom - rc.top, oldDpi, newDpi);
    } else {
        return 0;
    }
    // The size change (WM_SIZE) makes the region and the shadow again.
    SetWindowPos(hwnd_, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT msg, WPARAM wParam, LPARAM lParam, bool&) {
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        SendMessageW(hwnd_, WM_CLOSE, 0, 0);
        return 0;
    }
    return CallPrevious(msg, wParam, lParam);
}

#define OV_NOT_HANDLED(fn)                                            \
    LRESULT WindowImplBase::fn(UINT, WPARAM, LPARAM, bool& handled) { \
        handled = false;                                              \
        return 0;                                                     \
    }
OV_NOT_HANDLED(OnMouseWheel)
OV_NOT_HANDLED(OnMouseHover)
OV_NOT_HANDLED(OnChar)
OV_NOT_HANDLED(OnKeyDown)
OV_NOT_HANDLED(OnKillFocus)
OV_NOT_HANDLED(OnSetFocus)
OV_NOT_HANDLED(OnLButtonDown)
OV_NOT_HANDLED(OnLButtonUp)
OV_NOT_HANDLED(OnMouseMove)
OV_NOT_HANDLED(HandleCustomMessage)
OV_NOT_HANDLED(OnMove)
OV_NOT_HANDLED(OnShowWindow)
#undef OV_NOT_HANDLED

LRESULT WindowImplBase::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    bool handled = true;
    LRESULT r = 0;
    switch (msg) {
        case WM_CREATE: r = OnCreate(msg, wParam, lParam, handled); break;
        case WM_CLOSE: r = OnClose(msg, wParam, lParam, handled); break;
        case WM_DESTROY: r = OnDestroy(msg, wParam, lParam, handled); break;
        case WM_NCACTIVATE: r = OnNcActivate(msg, wParam, lParam, handled); break;
        case WM_NCCALCSIZE: r = OnNcCalcSize(msg, wParam, lParam, handled); break;
        case WM_NCPAINT: r = OnNcPaint(msg, wParam, lParam, handled); break;
        case WM_NCLBUTTONDOWN: r = OnNcLButtonDown(msg, wParam, lParam, handled); break;
        case WM_NCHITTEST: r = OnNcHitTest(msg, wParam, lParam, handled); break;
        case WM_GETMINMAXINFO: r = OnGetMinMaxInfo(msg, wParam, lParam, handled); break;
        case WM_MOUSEWHEEL: r = OnMouseWheel(msg, wParam, lParam, handled); break;
        case WM_MOUSEHOVER: r = OnMouseHover(msg, wParam, lParam, handled); break;
        case WM_SIZE: r = OnSize(msg, wParam, lParam, handled); break;
        case WM_CHAR: r = OnChar(msg, wParam, lParam, handled); break;
        case WM_SYSCOMMAND: r = OnSysCommand(msg, wParam, lParam, handled); break;
        case WM_KEYDOWN: r = OnKeyDown(msg, wParam, lParam, handled); break;
        case WM_KILLFOCUS: r = OnKillFocus(msg, wParam, lParam, handled); break;
        case WM_SETFOCUS: r = OnSetFocus(msg, wParam, lParam, handled); break;
        case WM_LBUTTONDOWN: r = OnLButtonDown(msg, wParam, lParam, handled); break;
        case WM_LBUTTONUP: r = OnLButtonUp(msg, wParam, lParam, handled); break;
        case WM_MOUSEMOVE: r = OnMouseMove(msg, wParam, lParam, handled); break;
        case WM_MOVE: r = OnMove(msg, wParam, lParam, handled); break;
        case WM_SHOWWINDOW: r = OnShowWindow(msg, wParam, lParam, handled); break;
        case WM_DPICHANGED: r = OnDpiChanged(msg, wParam, lParam, handled); break;
        default: handled = false; break;
    }
    if (handled) return r;
    handled = true;
    r = HandleCustomMessage(msg, wParam, lParam, handled);
    if (handled) return r;
    if (paintHost_.MessageHandler(msg, wParam, lParam, r)) return r;
    return CallPrevious(msg, wParam, lParam);
}

void WindowImplBase::Notify(TNotifyRecord& msg) { NotifyPump(msg); }

LRESULT WindowImplBase::MessageFilter(UINT msg, WPARAM wParam, LPARAM, bool& handled) {
    if (msg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) handled = OnDefaultKey(wParam);
    return 0;
}

bool WindowImplBase::OnDefaultKey(WPARAM key) {
    if (key == VK_ESCAPE) {
        Close(1);
        return true;
    }
    return false;
}

void WindowImplBase::OnClick(TNotifyRecord& msg) {
    if (!msg.sender) return;
    const std::wstring& name = msg.sender->GetName();
    if (name == L"btn_close")
        Close(1);
    else if (name == L"btn_min")
        SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    else if (name == L"btn_max")
        SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    else if (name == L"btn_restore")
        SendMessageW(hwnd_, WM_SYSCOMMAND, SC_RESTORE, 0);
}
