#include "ui/EditWnd.h"

#include <commctrl.h>

#include <vector>

#include "Runtime/Logger.h"
#include "ui/AccessibleEdit.h"
#include "ui/AccessibleModel.h"
#include "ui/CommonControls.h"
#include "ui/Edit.h"
#include "ui/PaintHost.h"

namespace {
// Messages the paint manager reflects back to the child that sent them.
const UINT kReflectBase = 0x2000;

COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }
}  // namespace

CEditWnd* CEditWnd::Open(CEditUI* owner) {
    if (!owner || !owner->GetManager() || !owner->GetManager()->GetPaintWindow()) return nullptr;
    CPaintHostUI* manager = owner->GetManager();
    auto* wnd = new CEditWnd;
    wnd->owner_ = owner;
    // The "Edit" class of common controls 6 (the manifest binds the version).
    EnsureCommonControls(ICC_STANDARD_CLASSES);
    const RECT rc = wnd->CalcPos();
    DWORD style = WS_CHILD | ES_AUTOHSCROLL;
    if (owner->IsPassword()) style |= ES_PASSWORD;
    if (!wnd->Create(manager->GetPaintWindow(), nullptr, style, 0, rc.left, rc.top, rc.right - rc.left,
                     rc.bottom - rc.top)) {
        OV_LOG(LOG_ERROR, L".\\ui\\EditWnd", L"native edit window not created (%u)", GetLastError());
        delete wnd;
        return nullptr;
    }
    HWND hwnd = wnd->GetHWND();
    HFONT font = manager->GetFont(owner->GetFont());
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(hwnd, EM_LIMITTEXT, static_cast<WPARAM>(owner->GetMaxChar()), 0);
    if (owner->IsPassword()) SendMessageW(hwnd, EM_SETPASSWORDCHAR, owner->GetPasswordChar(), 0);
    SetWindowTextW(hwnd, owner->GetText().c_str());
    SendMessageW(hwnd, EM_SETMODIFY, FALSE, 0);
    SendMessageW(hwnd, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(0, 0));
    EnableWindow(hwnd, owner->IsEnabled() ? TRUE : FALSE);
    SendMessageW(hwnd, EM_SETREADONLY, owner->IsReadOnly() ? TRUE : FALSE, 0);
    if (owner->GetAddedStyle()) {
        const LONG_PTR s = GetWindowLongPtrW(hwnd, GWL_STYLE);
        SetWindowLongPtrW(hwnd, GWL_STYLE, s | static_cast<LONG_PTR>(owner->GetAddedStyle()));
    }
    ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    ::SetFocus(hwnd);
    wnd->ready_ = true;
    return wnd;
}

CEditWnd::~CEditWnd() {
    if (brush_) DeleteObject(brush_);
}

RECT CEditWnd::CalcPos() const {
    RECT rc = owner_->GetPosition();
    const RECT pad = owner_->GetTextPadding();
    rc.left += pad.left;
    rc.top += pad.top;
    rc.right -= pad.right;
    rc.bottom -= pad.bottom;
    CPaintHostUI* manager = owner_->GetManager();
    const TFontInfo* info = manager ? manager->GetFontInfo(owner_->GetFont()) : nullptr;
    const LONG line = info ? info->tm.tmHeight : 0;
    if (line > 0 && line < rc.bottom - rc.top) {
        rc.top += (rc.bottom - rc.top - line) / 2;
        rc.bottom = rc.top + line;
    }
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    return rc;
}

LRESULT CEditWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_KILLFOCUS:
            // Typing ends when the focus goes elsewhere; closing is posted so
            // that the focus change completes first.
            PostMessageW(hwnd_, WM_CLOSE, 0, 0);
            break;
        case WM_KEYDOWN:
            if (wParam == VK_RETURN && owner_) {
                owner_->OnNativeReturn();
                return 0;
            }
            // Tab leaves the field and Escape is the window's: both go to the
            // skinned window, as if it had the focus. Posted: what they start
            // (a modal box, the end of this window) must not run inside it.
            if (wParam == VK_TAB || wParam == VK_ESCAPE) {
                PostMessageW(GetParent(hwnd_), WM_KEYDOWN, wParam, lParam);
                return 0;
            }
            break;
        case WM_GETOBJECT: {
            // Named as the field is (the label beside it is painted, not a window).
            LRESULT r = 0;
            if (owner_ && AnswerEditObject(hwnd_, DescribeControl(*owner_, true).name, wParam, lParam, &r)) return r;
            break;
        }
        case WM_CHAR:
            // Reported on key down; no beep.
            if (wParam == VK_RETURN || wParam == VK_TAB || wParam == VK_ESCAPE) return 0;
            break;
        case WM_COMMAND + kReflectBase: {
            const UINT code = HIWORD(wParam);
            if (code == EN_CHANGE && ready_ && owner_) {
                const int len = GetWindowTextLengthW(hwnd_);
                std::vector<wchar_t> buf(static_cast<size_t>(len) + 1, L'\0');
                const int got = GetWindowTextW(hwnd_, buf.data(), len + 1);
                owner_->OnNativeTextChanged(std::wstring(buf.data(), static_cast<size_t>(got > 0 ? got : 0)));
            } else if (code == EN_UPDATE) {
                RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            }
            return 0;
        }
        case WM_CTLCOLOREDIT + kReflectBase:
        case WM_CTLCOLORSTATIC + kReflectBase: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetBkMode(dc, TRANSPARENT);
            if (owner_) SetTextColor(dc, ToColorRef(owner_->EffectiveTextColor()));
            const DWORD bk = owner_ ? owner_->GetNativeBkColor() : 0xFFFFFFFF;
            if (bk == 0xFFFFFFFF) return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            if (!brush_) brush_ = CreateSolidBrush(ToColorRef(bk));
            return reinterpret_cast<LRESULT>(brush_ ? brush_ : GetSysColorBrush(COLOR_WINDOW));
        }
        default:
            break;
    }
    return CWindowWnd::HandleMessage(msg, wParam, lParam);
}

void CEditWnd::OnWindowDestroyed(HWND) {
    if (owner_) owner_->OnNativeWindowGone();
    delete this;
}
