// What the window tells screen readers (its accessible object and the
// system's accessibility events) and the keyboard focus cue.
#include <oleacc.h>

#include <algorithm>

#include "ui/AccessibleModel.h"
#include "ui/AccessibleWindow.h"
#include "ui/Control.h"
#include "ui/PaintHost.h"
#include "ui/PaintHostInternal.h"

namespace {

// A value change is told at most this often: a screen reader reading every
// progress step would say nothing else.
const DWORD kValueEventMs = 1000;

// The focus cue: a ring just outside the control in the skin's blue.
const int kCueGap = 2;
const int kCueWidth = 2;
const COLORREF kCueColor = RGB(0x1A, 0x7F, 0xE8);

long ChildIdOf(CControlUI* root, CControlUI* control) {
    const std::vector<CControlUI*> exposed = ExposedControls(root);
    auto it = std::find(exposed.begin(), exposed.end(), control);
    return it == exposed.end() ? 0 : static_cast<long>(it - exposed.begin()) + 1;
}

}  // namespace

bool CPaintHostUI::OnGetObject(WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // Only the client area is ours; the frame and the rest are the system's.
    if (static_cast<LONG>(lParam) != OBJID_CLIENT || !window_ || !root_) return false;
    if (!accessible_) accessible_ = new CAccessibleWindow(this);
    const LRESULT r = LresultFromObject(kIIDAccessible, wParam, static_cast<IAccessible*>(accessible_));
    if (r < 0) return false;  // not marshalled: the system's default object answers
    result = r;
    return true;
}

void CPaintHostUI::DisconnectAccessible() {
    if (window_) ::KillTimer(window_, painthost::kAccessibleValueTimer);
    pendingValue_ = nullptr;
    if (!accessible_) return;
    CAccessibleWindow* a = accessible_;
    accessible_ = nullptr;
    a->Disconnect();
    a->Release();
}

void CPaintHostUI::NotifyAccessible(CControlUI* control, DWORD event) {
    if (!window_ || !root_ || !control) return;
    const long id = ChildIdOf(root_, control);
    if (id != 0) NotifyWinEvent(event, window_, OBJID_CLIENT, id);
}

void CPaintHostUI::NotifyAccessibleSubtree(CControlUI* subtree, DWORD event) {
    if (!window_ || !root_ || !subtree) return;
    const std::vector<CControlUI*> exposed = ExposedControls(root_);
    for (CControlUI* c : ExposedControls(subtree)) {
        auto it = std::find(exposed.begin(), exposed.end(), c);
        if (it != exposed.end()) NotifyWinEvent(event, window_, OBJID_CLIENT, static_cast<long>(it - exposed.begin()) + 1);
    }
}

void CPaintHostUI::NotifyAccessibleValue(CControlUI* control) {
    if (!window_ || !control) return;
    const DWORD now = GetTickCount();
    if (!pendingValue_ && (lastValueEvent_ == 0 || now - lastValueEvent_ >= kValueEventMs)) {
        lastValueEvent_ = now ? now : 1;
        NotifyAccessible(control, EVENT_OBJECT_VALUECHANGE);
        return;
    }
    // Held back: the timer tells the value as it is then.
    if (!pendingValue_) {
        const DWORD waited = now - lastValueEvent_;
        const UINT left = waited < kValueEventMs ? static_cast<UINT>(kValueEventMs - waited) : 1u;
        if (!::SetTimer(window_, painthost::kAccessibleValueTimer, left, nullptr)) return;
    }
    pendingValue_ = control;
}

void CPaintHostUI::OnAccessibleValueTimer() {
    if (window_) ::KillTimer(window_, painthost::kAccessibleValueTimer);
    CControlUI* control = pendingValue_;
    pendingValue_ = nullptr;
    if (!control) return;
    lastValueEvent_ = GetTickCount() ? GetTickCount() : 1;
    NotifyAccessible(control, EVENT_OBJECT_VALUECHANGE);
}

void CPaintHostUI::OnAccessibleAction(WPARAM childId) {
    // Looked up again: the control may have gone or changed since the call.
    const std::vector<CControlUI*> exposed = ExposedControls(root_);
    if (childId < 1 || childId > exposed.size()) return;
    CControlUI* c = exposed[childId - 1];
    if (DescribeControl(*c, IsWindowEnabled(window_) != FALSE).defaultAction.empty()) return;
    // What the mouse's click does (an option toggles on its own Activate).
    c->Activate();
}

void CPaintHostUI::ShowFocusCue() {
    if (focusCue_) return;
    // The system's way: the window and its children learn that the keyboard
    // is in use (WM_UPDATEUISTATE comes back to OnUpdateUIState).
    if (window_) SendMessageW(window_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    if (!focusCue_) {
        focusCue_ = true;
        InvalidateFocusCue(focus_);
    }
}

void CPaintHostUI::OnUpdateUIState(WPARAM wParam) {
    if (!(HIWORD(wParam) & UISF_HIDEFOCUS)) return;
    const bool show = LOWORD(wParam) == UIS_CLEAR;
    if (show == focusCue_) return;
    focusCue_ = show;
    InvalidateFocusCue(focus_);
}

void CPaintHostUI::InvalidateFocusCue(CControlUI* control) {
    if (!control || !window_) return;
    RECT rc = control->GetPosition();
    InflateRect(&rc, kCueGap + kCueWidth + 2, kCueGap + kCueWidth + 2);
    Invalidate(rc);
}

void CPaintHostUI::PaintFocusCue(HDC dc) {
    if (!focusCue_ || !focus_ || !focus_->IsVisible() || !(focus_->GetControlFlags() & UIFLAG_TABSTOP)) return;
    // Blue on the white bars, edged in white where it crosses the dark artwork.
    const struct {
        int inflate, width;
        COLORREF color;
    } rings[] = {{kCueGap + kCueWidth / 2, kCueWidth, kCueColor}, {kCueGap + kCueWidth, 1, RGB(0xFF, 0xFF, 0xFF)}};
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    for (const auto& ring : rings) {
        HPEN pen = CreatePen(PS_SOLID, ring.width, ring.color);
        if (!pen) continue;
        HGDIOBJ oldPen = SelectObject(dc, pen);
        RECT rc = focus_->GetPosition();
        InflateRect(&rc, ring.inflate, ring.inflate);
        RoundRect(dc, rc.left, rc.top, rc.right + 1, rc.bottom + 1, 4 + ring.inflate, 4 + ring.inflate);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
    }
    SelectObject(dc, oldBrush);
}
