#include "ui/WindowWnd.h"

#include "ui/PaintHost.h"
#include "ui/SkinResources.h"

namespace {
const wchar_t kPropName[] = L"WndX";
}

CWindowWnd::CWindowWnd() : oldProc_(::DefWindowProcW) {}

CWindowWnd::~CWindowWnd() {
    // Unbind a window that is still alive so that its later messages reach
    // the default procedure instead of this destroyed object.
    if (hwnd_ && IsWindow(hwnd_)) {
        if (superclassed_)
            RemovePropW(hwnd_, kPropName);
        else
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

bool CWindowWnd::RegisterWindowClass() {
    WNDCLASSW wc = {};
    wc.style = ClassStyle();
    wc.lpfnWndProc = CWindowWnd::WindowProc;
    wc.hInstance = CSkinResources::Instance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = WindowClassName();
    if (RegisterClassW(&wc)) return true;
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool CWindowWnd::RegisterSuperclass() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (!GetClassInfoExW(nullptr, SuperclassName(), &wc) &&
        !GetClassInfoExW(CSkinResources::Instance(), SuperclassName(), &wc))
        return false;
    oldProc_ = wc.lpfnWndProc;
    wc.lpfnWndProc = CWindowWnd::ControlProc;
    wc.hInstance = CSkinResources::Instance();
    wc.lpszClassName = WindowClassName();
    if (RegisterClassExW(&wc)) return true;
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND parent, const wchar_t* title, DWORD style, DWORD exStyle, int x, int y, int cx, int cy,
                        HMENU menu) {
    superclassed_ = SuperclassName() != nullptr;
    if (superclassed_ ? !RegisterSuperclass() : !RegisterWindowClass()) return nullptr;
    hwnd_ = CreateWindowExW(exStyle, WindowClassName(), title, style, x, y, cx, cy, parent, menu,
                            CSkinResources::Instance(), this);
    return hwnd_;
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus) {
    if (!hwnd_ || !IsWindow(hwnd_)) return;
    ::ShowWindow(hwnd_, show ? (takeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

void CWindowWnd::CenterOnOwner() {
    if (!hwnd_) return;
    RECT rc;
    if (!GetWindowRect(hwnd_, &rc)) return;
    HWND owner = GetWindow(hwnd_, GW_OWNER);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (!GetMonitorInfoW(MonitorFromWindow(owner ? owner : hwnd_, MONITOR_DEFAULTTONEAREST), &mi)) return;
    const RECT work = mi.rcWork;
    RECT ref = work;
    if (owner) GetWindowRect(owner, &ref);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int x = (ref.left + ref.right) / 2 - w / 2;
    int y = (ref.top + ref.bottom) / 2 - h / 2;
    if (x < work.left)
        x = work.left;
    else if (x + w > work.right)
        x = work.right - w;
    if (y < work.top)
        y = work.top;
    else if (y + h > work.bottom)
        y = work.bottom - h;
    SetWindowPos(hwnd_, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CWindowWnd::CallPrevious(UINT msg, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(oldProc_, hwnd_, msg, wParam, lParam);
}

LRESULT CWindowWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) { return CallPrevious(msg, wParam, lParam); }

void CWindowWnd::Close(UINT result) {
    if (!hwnd_ || !IsWindow(hwnd_)) return;
    PostMessageW(hwnd_, WM_CLOSE, result, 0);
}

UINT CWindowWnd::RunModal() {
    if (!hwnd_ || !IsWindow(hwnd_)) return 0;
    const HWND self = hwnd_;
    HWND owner = GetWindow(self, GW_OWNER);
    ::ShowWindow(self, SW_SHOWNORMAL);
    if (owner) EnableWindow(owner, FALSE);
    // The keys the modal loop acts on (Escape) must reach this window, even
    // when nothing in it takes the focus itself.
    HWND focus = ::GetFocus();
    if (focus != self && !IsChild(self, focus)) ::SetFocus(self);
    UINT result = 0;
    MSG msg = {};
    bool quit = false;
    while (IsWindow(self)) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            break;
        }
        if (got == -1) break;
        if (msg.message == WM_CLOSE && msg.hwnd == self) {
            result = static_cast<UINT>(msg.wParam);
            if (owner) {
                EnableWindow(owner, TRUE);
                ::SetFocus(owner);
            }
        }
        if (!CPaintHostUI::TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (owner) {
        EnableWindow(owner, TRUE);
        ::SetFocus(owner);
    }
    if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
    return result;
}

void CWindowWnd::Unsubclass() {
    if (!hwnd_ || !subclassed_) return;
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc_));
    oldProc_ = ::DefWindowProcW;
    subclassed_ = false;
}

LRESULT CWindowWnd::SendMsg(UINT msg, WPARAM wParam, LPARAM lParam) const {
    return SendMessageW(hwnd_, msg, wParam, lParam);
}

BOOL CWindowWnd::PostMsg(UINT msg, WPARAM wParam, LPARAM lParam) const {
    return PostMessageW(hwnd_, msg, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* self = nullptr;
    if (msg == WM_NCCREATE) {
        const CREATESTRUCTW* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        self = static_cast<CWindowWnd*>(cs->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CWindowWnd*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == WM_NCDESTROY && self) {
            LRESULT r = CallWindowProcW(self->oldProc_, hwnd, msg, wParam, lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            if (self->subclassed_) self->Unsubclass();
            self->hwnd_ = nullptr;
            self->OnWindowDestroyed(hwnd);
            return r;
        }
    }
    if (self) return self->HandleMessage(msg, wParam, lParam);
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* self = nullptr;
    if (msg == WM_NCCREATE) {
        const CREATESTRUCTW* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        self = static_cast<CWindowWnd*>(cs->lpCreateParams);
        self->hwnd_ = hwnd;
        SetPropW(hwnd, kPropName, self);
    } else {
        self = static_cast<CWindowWnd*>(GetPropW(hwnd, kPropName));
        if (msg == WM_NCDESTROY && self) {
            LRESULT r = CallWindowProcW(self->oldProc_, hwnd, msg, wParam, lParam);
            if (self->subclassed_) self->Unsubclass();
            RemovePropW(hwnd, kPropName);
            self->hwnd_ = nullptr;
            self->OnWindowDestroyed(hwnd);
            return r;
        }
    }
    if (self) return self->HandleMessage(msg, wParam, lParam);
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}
