// The window's messages: the message filters, pre-translation for modal
// loops, and MessageHandler, which dispatches each message to one small
// handler that turns it into control events (mouse, keyboard, window state)
// or reflects it to the child window that sent it.
#include "ui/PaintHost.h"

#include <commctrl.h>

#include "ui/AccessibleWindow.h"
#include "ui/Control.h"
#include "ui/PaintHostInternal.h"

using painthost::AddUnique;
using painthost::RemoveItem;

namespace {

// WM_COMMAND and friends are reflected to the child that sent them at this offset.
const UINT kReflectBase = 0x2000;

POINT PointFromLParam(LPARAM lParam) {
    return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

// Runs a copy of the list, since a filter may add or remove filters; the
// first that claims the message ends the run.
bool RunFilters(std::vector<IMessageFilterUI*> filters, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    for (IMessageFilterUI* f : filters) {
        bool handled = false;
        LRESULT r = f->MessageFilter(msg, wParam, lParam, handled);
        if (handled) {
            result = r;
            return true;
        }
    }
    return false;
}

}  // namespace

bool CPaintHostUI::AddPreMessageFilter(IMessageFilterUI* f) { return AddUnique(preFilters_, f); }
bool CPaintHostUI::RemovePreMessageFilter(IMessageFilterUI* f) { return RemoveItem(preFilters_, f); }
bool CPaintHostUI::AddMessageFilter(IMessageFilterUI* f) { return AddUnique(filters_, f); }
bool CPaintHostUI::RemoveMessageFilter(IMessageFilterUI* f) { return RemoveItem(filters_, f); }
bool CPaintHostUI::AddTranslateAccelerator(ITranslateAccelerator* t) { return AddUnique(translators_, t); }
bool CPaintHostUI::RemoveTranslateAccelerator(ITranslateAccelerator* t) { return RemoveItem(translators_, t); }

void CPaintHostUI::SendEvent(CControlUI* control, int type, WPARAM wParam, LPARAM lParam, WORD keyState, wchar_t key) {
    if (!control) return;
    TEventUI e;
    e.type = type;
    e.sender = control;
    e.timestamp = GetTickCount();
    e.ptMouse = lastMouse_;
    e.key = key;
    e.keyState = keyState;
    e.wParam = wParam;
    e.lParam = lParam;
    control->Event(e);
}

bool CPaintHostUI::PreMessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return RunFilters(preFilters_, msg, wParam, lParam, result);
}

bool CPaintHostUI::TranslateMessage(const MSG* msg) {
    if (!msg || !msg->hwnd) return false;
    for (CPaintHostUI* m : std::vector<CPaintHostUI*>(painthost::Managers())) {
        if (!m->window_) continue;
        if (msg->hwnd != m->window_ && !IsChild(m->window_, msg->hwnd)) continue;
        for (ITranslateAccelerator* t : m->translators_)
            if (t->TranslateAccelerator(const_cast<MSG*>(msg)) == S_OK) return true;
        LRESULT r = 0;
        return m->PreMessageHandler(msg->message, msg->wParam, msg->lParam, r);
    }
    return false;
}

bool CPaintHostUI::MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (!window_) return false;
    DeliverDelayedNotifications();
    if (RunFilters(filters_, msg, wParam, lParam, result)) return true;
    const bool claimed = Dispatch(msg, wParam, lParam, result);
    // A handler may have queued notifications; its listeners see them now.
    DeliverDelayedNotifications();
    return claimed;
}

bool CPaintHostUI::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
        // The window itself: deferred deletes, painting, size, closing.
        case painthost::kMsgDelayed:
            DeleteDelayedCleanup();
            result = 0;
            return true;
        case WM_PAINT:
            DoPaint();
            result = 0;
            return true;
        case WM_PRINTCLIENT:
            PrintClient(reinterpret_cast<HDC>(wParam), lParam);
            result = 0;
            return true;
        case WM_ERASEBKGND:
            result = 1;
            return true;
        case WM_SIZE:
            OnSize();
            return false;
        case WM_GETMINMAXINFO:
            OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
            return false;
        case WM_CLOSE:
            OnClose();
            return false;
        case WM_TIMER:
            if (wParam == painthost::kAccessibleValueTimer) {
                OnAccessibleValueTimer();
                result = 0;
                return true;
            }
            return OnTimer(wParam);

        // The mouse.
        case WM_MOUSEHOVER:
            return OnMouseHover(wParam, lParam);
        case WM_MOUSELEAVE:
            OnMouseLeave();
            return false;
        case WM_MOUSEMOVE:
            OnMouseMove(wParam, lParam);
            return false;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
            OnButtonDown(msg, wParam, lParam);
            return false;
        case WM_LBUTTONUP:
            OnButtonUp(wParam, lParam);
            return false;
        case WM_CONTEXTMENU:
            OnContextMenu(wParam, lParam);
            return false;
        case WM_MOUSEWHEEL:
            OnMouseWheel(wParam, lParam);
            return false;
        case WM_SETCURSOR:
            return OnSetCursor(wParam, lParam, result);

        // The keyboard.
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_CHAR:
            OnKey(msg, wParam, lParam);
            return false;

        // Screen readers and the keyboard cues.
        case WM_GETOBJECT:
            return OnGetObject(wParam, lParam, result);
        case kMsgAccessibleAction:
            OnAccessibleAction(wParam);
            result = 0;
            return true;
        case WM_UPDATEUISTATE:
            OnUpdateUIState(wParam);
            return false;

        // Native child windows (the edit box) handle their own notifications.
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
            return ReflectToChild(msg, wParam, lParam, result);

        default:
            return false;
    }
}

// ---- the window ---------------------------------------------------------------

void CPaintHostUI::OnSize() {
    if (focus_) SendEvent(focus_, UIEVENT_WINDOWSIZE);
    if (root_) root_->RequestLayout();
    needLayout_ = true;
}

void CPaintHostUI::OnGetMinMaxInfo(MINMAXINFO* mmi) {
    if (minInfo_.cx > 0) mmi->ptMinTrackSize.x = minInfo_.cx;
    if (minInfo_.cy > 0) mmi->ptMinTrackSize.y = minInfo_.cy;
    if (maxInfo_.cx > 0) mmi->ptMaxTrackSize.x = maxInfo_.cx;
    if (maxInfo_.cy > 0) mmi->ptMaxTrackSize.y = maxInfo_.cy;
}

void CPaintHostUI::OnClose() {
    if (hot_) {
        CControlUI* hot = hot_;
        hot_ = nullptr;
        SendEvent(hot, UIEVENT_MOUSELEAVE);
    }
    if (pushed_) {
        CControlUI* pushed = pushed_;
        pushed_ = nullptr;
        ReleaseCapture();
        SendEvent(pushed, UIEVENT_BUTTONUP);
    }
    SetFocus(nullptr);
    HWND owner = GetWindow(window_, GW_OWNER);
    if (owner) ::SetFocus(owner);
}

// ---- the mouse ------------------------------------------------------------------

bool CPaintHostUI::OnMouseHover(WPARAM wParam, LPARAM lParam) {
    mouseTracking_ = false;
    POINT pt = PointFromLParam(lParam);
    CControlUI* c = FindControl(pt);
    if (!c) return false;
    if (hot_) SendEvent(hot_, UIEVENT_MOUSEHOVER, wParam, lParam);
    if (!c->GetToolTip().empty()) ShowToolTip(c);
    return true;
}

void CPaintHostUI::OnMouseLeave() {
    HideToolTip();
    if (mouseTracking_) SendMessageW(window_, WM_MOUSEMOVE, 0, MAKELPARAM(-1, -1));
    mouseTracking_ = false;
}

void CPaintHostUI::OnMouseMove(WPARAM wParam, LPARAM lParam) {
    if (!mouseTracking_) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_HOVER | TME_LEAVE, window_, 400};
        if (tooltip_) tme.dwHoverTime = static_cast<DWORD>(SendMessageW(tooltip_, TTM_GETDELAYTIME, TTDT_INITIAL, 0));
        if (TrackMouseEvent(&tme)) mouseTracking_ = true;
    }
    POINT pt = PointFromLParam(lParam);
    lastMouse_ = pt;
    CControlUI* c = FindControl(pt);
    if (c && c->GetManager() != this) return;
    if (c != hot_) {
        CControlUI* old = hot_;
        hot_ = c;
        if (old) {
            SendEvent(old, UIEVENT_MOUSELEAVE, wParam, lParam, static_cast<WORD>(wParam));
            if (tooltipOwner_ == old) HideToolTip();
        }
        if (c && hot_ == c) SendEvent(c, UIEVENT_MOUSEENTER, wParam, lParam, static_cast<WORD>(wParam));
    }
    if (pushed_)
        SendEvent(pushed_, UIEVENT_MOUSEMOVE, wParam, lParam, static_cast<WORD>(wParam));
    else if (c && hot_ == c)
        SendEvent(c, UIEVENT_MOUSEMOVE, wParam, lParam, static_cast<WORD>(wParam));
}

void CPaintHostUI::OnButtonDown(UINT msg, WPARAM wParam, LPARAM lParam) {
    ::SetFocus(window_);
    POINT pt = PointFromLParam(lParam);
    lastMouse_ = pt;
    CControlUI* c = FindControl(pt);
    if (!c || c->GetManager() != this) return;
    pushed_ = c;
    SetFocus(c);
    SetCapture();
    const int kind = msg == WM_LBUTTONDOWN ? UIEVENT_BUTTONDOWN
                     : msg == WM_LBUTTONDBLCLK ? UIEVENT_DBLCLICK
                                               : UIEVENT_RBUTTONDOWN;
    if (pushed_ == c) SendEvent(c, kind, wParam, lParam, static_cast<WORD>(wParam));
}

void CPaintHostUI::OnButtonUp(WPARAM wParam, LPARAM lParam) {
    lastMouse_ = PointFromLParam(lParam);
    if (!pushed_) return;
    CControlUI* c = pushed_;
    pushed_ = nullptr;
    ReleaseCapture();
    SendEvent(c, UIEVENT_BUTTONUP, wParam, lParam, static_cast<WORD>(wParam));
}

void CPaintHostUI::OnContextMenu(WPARAM wParam, LPARAM lParam) {
    ReleaseCapture();
    if (!pushed_) return;
    CControlUI* c = pushed_;
    pushed_ = nullptr;
    SendEvent(c, UIEVENT_CONTEXTMENU, wParam, lParam);
}

void CPaintHostUI::OnMouseWheel(WPARAM wParam, LPARAM lParam) {
    // The wheel's position comes in screen coordinates.
    POINT pt = PointFromLParam(lParam);
    ScreenToClient(window_, &pt);
    lastMouse_ = pt;
    CControlUI* c = FindControl(pt);
    if (!c || c->GetManager() != this) return;
    const short delta = static_cast<short>(HIWORD(wParam));
    SendEvent(c, UIEVENT_SCROLLWHEEL, MAKEWPARAM(delta < 0 ? SB_LINEDOWN : SB_LINEUP, 0), delta, LOWORD(wParam));
}

bool CPaintHostUI::OnSetCursor(WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (LOWORD(lParam) != HTCLIENT) return false;
    POINT pt;
    GetCursorPos(&pt);
    ScreenToClient(window_, &pt);
    CControlUI* c = FindControl(pt);
    if (!c || !(c->GetControlFlags() & UIFLAG_SETCURSOR)) return false;
    SendEvent(c, UIEVENT_SETCURSOR, wParam, lParam);
    result = TRUE;
    return true;
}

// ---- the keyboard ---------------------------------------------------------------

void CPaintHostUI::OnKey(UINT msg, WPARAM wParam, LPARAM lParam) {
    const wchar_t key = static_cast<wchar_t>(wParam);
    if (msg == WM_KEYUP) {
        // The key-up goes where the key-down went, even if the focus moved since.
        if (!keyPressed_) return;
        CControlUI* c = keyPressed_;
        keyPressed_ = nullptr;
        SendEvent(c, UIEVENT_KEYUP, wParam, lParam, 0, key);
        return;
    }
    // Tab moves the focus through the page in reading order (FocusChain.h);
    // its character is not typed anywhere.
    if (key == VK_TAB) {
        if (msg == WM_KEYDOWN) {
            ShowFocusCue();
            SetNextTabControl((GetKeyState(VK_SHIFT) & 0x8000) == 0);
        }
        return;
    }
    if (msg == WM_KEYDOWN && (key == VK_SPACE || key == VK_RETURN)) ShowFocusCue();
    // Key-down and characters go to the focused control.
    if (!focus_) return;
    if (msg == WM_KEYDOWN) keyPressed_ = focus_;
    SendEvent(focus_, msg == WM_KEYDOWN ? UIEVENT_KEYDOWN : UIEVENT_CHAR, wParam, lParam, 0, key);
}

// ---- child windows --------------------------------------------------------------

bool CPaintHostUI::ReflectToChild(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    HWND child = nullptr;
    if (msg == WM_NOTIFY) {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
        child = hdr ? hdr->hwndFrom : nullptr;
    } else {
        child = reinterpret_cast<HWND>(lParam);
    }
    if (!child || !IsWindow(child)) return false;
    result = SendMessageW(child, msg + kReflectBase, wParam, lParam);
    return true;
}
