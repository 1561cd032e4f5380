// Input state of the window: which control has the focus (and the tab order
// that moves it), mouse capture, the controls' timers and the tooltip.
#include "ui/PaintHost.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/CommonControls.h"
#include "ui/Control.h"
#include "ui/FocusChain.h"
#include "ui/SkinResources.h"

// ---- focus, capture ---------------------------------------------------------

void CPaintHostUI::SetFocus(CControlUI* control) {
    if (window_ && ::GetFocus() != window_ && control != focus_) ::SetFocus(window_);
    if (control == focus_) return;
    if (focus_) {
        CControlUI* old = focus_;
        focus_ = nullptr;
        InvalidateFocusCue(old);
        SendEvent(old, UIEVENT_KILLFOCUS);
        RaiseNotification(old, L"killfocus");
    }
    if (!control || control->GetManager() != this || !control->IsVisible() || !control->IsEnabled()) return;
    focus_ = control;
    InvalidateFocusCue(control);
    SendEvent(control, UIEVENT_SETFOCUS);
    if (focus_ != control) return;
    RaiseNotification(control, L"setfocus");
    NotifyAccessible(control, EVENT_OBJECT_FOCUS);
}

void CPaintHostUI::SetFocusNeeded(CControlUI* control) {
    if (window_) ::SetFocus(window_);
    if (!control) return;
    SetFocus(nullptr);
    needFocus_ = true;
    if (window_) InvalidateRect(window_, nullptr, FALSE);
}

namespace {
struct TabSearch {
    std::vector<CControlUI*> found;
};
}  // namespace

CControlUI* CPaintHostUI::FindControlFromTab(CControlUI* control, void* data) {
    if (control->GetControlFlags() & UIFLAG_TABSTOP) static_cast<TabSearch*>(data)->found.push_back(control);
    return nullptr;
}

bool CPaintHostUI::SetNextTabControl(bool forward) {
    if (!root_) return false;
    TabSearch search;
    root_->Lookup(FindControlFromTab, &search, UIFIND_VISIBLE | UIFIND_ENABLED | UIFIND_ME_FIRST);
    if (search.found.empty()) return false;
    // The chain runs in reading order, whatever order the markup has.
    std::vector<RECT> rects;
    for (CControlUI* c : search.found) rects.push_back(c->GetPosition());
    std::vector<CControlUI*> chain;
    for (size_t i : ReadingOrder(rects)) chain.push_back(search.found[i]);
    const size_t at = static_cast<size_t>(std::find(chain.begin(), chain.end(), focus_) - chain.begin());
    SetFocus(chain[NextInChain(chain.size(), at, forward)]);
    return true;
}

void CPaintHostUI::SetCapture() {
    if (window_) ::SetCapture(window_);
    captured_ = true;
}

void CPaintHostUI::ReleaseCapture() {
    if (captured_) ::ReleaseCapture();
    captured_ = false;
}

// ---- timers -------------------------------------------------------------------

bool CPaintHostUI::SetTimer(CControlUI* control, UINT id, UINT elapse) {
    if (!control || !window_) return false;
    for (Timer& t : timers_) {
        if (t.control == control && t.localId == id && t.window == window_) {
            t.killed = false;
            return ::SetTimer(window_, t.nativeId, elapse, nullptr) != 0;
        }
    }
    // Native ids stay within 16 bits: WM_TIMER is matched on the low word.
    UINT_PTR native = nextTimerId_;
    nextTimerId_ = nextTimerId_ >= 0xF000 ? 0x1000 : nextTimerId_ + 1;
    if (!::SetTimer(window_, native, elapse, nullptr)) return false;
    timers_.push_back(Timer{control, id, window_, native, false});
    return true;
}

bool CPaintHostUI::KillTimer(CControlUI* control, UINT id) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->control == control && it->localId == id) {
            if (!it->killed && it->window) ::KillTimer(it->window, it->nativeId);
            timers_.erase(it);
            return true;
        }
    }
    return false;
}

void CPaintHostUI::KillTimer(CControlUI* control) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->control == control) {
            if (!it->killed && it->window) ::KillTimer(it->window, it->nativeId);
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

void CPaintHostUI::RemoveAllTimers() {
    for (Timer& t : timers_)
        if (!t.killed && t.window && IsWindow(t.window)) ::KillTimer(t.window, t.nativeId);
    timers_.clear();
}

bool CPaintHostUI::OnTimer(WPARAM nativeId) {
    for (const Timer& t : timers_) {
        if (t.window == window_ && t.nativeId == LOWORD(nativeId) && !t.killed) {
            SendEvent(t.control, UIEVENT_TIMER, t.localId, 0);
            return true;
        }
    }
    return false;
}

// ---- tooltips -------------------------------------------------------------------

void CPaintHostUI::ShowToolTip(CControlUI* control) {
    if (!window_ || !control || control->GetToolTip().empty()) return;
    if (!tooltip_) {
        EnsureCommonControls(ICC_WIN95_CLASSES);
        tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                                   CSkinResources::Instance(), nullptr);
        if (!tooltip_) return;
    }
    tooltipText_ = control->GetToolTip();
    TTTOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    ti.hwnd = window_;
    ti.uId = reinterpret_cast<UINT_PTR>(window_);
    ti.lpszText = &tooltipText_[0];
    ti.rect = control->GetPosition();
    if (!tooltipAdded_) {
        tooltipAdded_ = SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)) != FALSE;
        if (!tooltipAdded_) return;
    } else {
        SendMessageW(tooltip_, TTM_SETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti));
        SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, control->GetToolTipWidth());
    // Just below the cursor, like the system's own tips.
    POINT pt;
    if (!GetCursorPos(&pt)) {
        pt = POINT{control->GetPosition().left, control->GetPosition().bottom};
        ClientToScreen(window_, &pt);
    }
    SendMessageW(tooltip_, TTM_TRACKPOSITION, 0, MAKELPARAM(pt.x, pt.y + 20));
    SendMessageW(tooltip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
    tooltipOwner_ = control;
}

void CPaintHostUI::HideToolTip() {
    tooltipOwner_ = nullptr;
    if (!tooltip_ || !tooltipAdded_) return;
    TTTOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = window_;
    ti.uId = reinterpret_cast<UINT_PTR>(window_);
    SendMessageW(tooltip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
}
