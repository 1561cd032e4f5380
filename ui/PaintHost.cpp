// The manager's lifetime, its window and the layout's window properties, the
// control tree it owns and the notifications raised from that tree. Fonts and
// images are in PaintHostResources.cpp, focus, capture, timers and tooltips in
// PaintHostInput.cpp, layout and painting in PaintHostPaint.cpp, and the
// window's messages in PaintHostMessages.cpp.
#include "ui/PaintHost.h"

#include "ui/Control.h"
#include "ui/PaintHostInternal.h"

using painthost::AddUnique;
using painthost::RemoveItem;

std::vector<CPaintHostUI*>& painthost::Managers() {
    static std::vector<CPaintHostUI*> list;
    return list;
}

CPaintHostUI::CPaintHostUI() { InitDefaultFont(); }

CPaintHostUI::~CPaintHostUI() {
    DisconnectAccessible();
    RemoveAllTimers();
    RemoveItem(painthost::Managers(), this);
    CControlUI* root = root_;
    root_ = nullptr;
    focus_ = hot_ = pushed_ = keyPressed_ = tooltipOwner_ = nullptr;
    delete root;
    // Deleting a container queues its children here again, so drain until
    // nothing is left.
    while (!delayedCleanup_.empty()) DeleteDelayedCleanup();
    if (tooltip_) DestroyWindow(tooltip_);
    if (offscreenBitmap_) DeleteObject(offscreenBitmap_);
    RemoveAllImages();
    FreeFonts();
    if (ownDefaultFont_) DeleteObject(defaultFont_.font);
    if (windowDC_) ReleaseDC(window_, windowDC_);
}

void CPaintHostUI::Init(HWND window) {
    if (windowDC_) ReleaseDC(window_, windowDC_);
    window_ = window;
    windowDC_ = window ? GetDC(window) : nullptr;
    AddUnique(painthost::Managers(), this);
    // Users who asked the system for keyboard cues always see the focus.
    BOOL cues = FALSE;
    if (SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0) && cues) focusCue_ = true;
}

SIZE CPaintHostUI::GetClientSize() const {
    RECT rc = {0, 0, 0, 0};
    if (window_) GetClientRect(window_, &rc);
    return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

void CPaintHostUI::SetInitSize(int cx, int cy) {
    initSize_ = SIZE{cx, cy};
    if (!root_ && window_) SetWindowPos(window_, nullptr, 0, 0, cx, cy, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

void CPaintHostUI::SetMinInfo(int cx, int cy) {
    if (cx >= 0 && cy >= 0) minInfo_ = SIZE{cx, cy};
}

void CPaintHostUI::SetMaxInfo(int cx, int cy) {
    if (cx >= 0 && cy >= 0) maxInfo_ = SIZE{cx, cy};
}

// ---- the tree ---------------------------------------------------------------

bool CPaintHostUI::AttachRoot(CControlUI* root) {
    if (!root) return false;
    SetFocus(nullptr);
    hot_ = pushed_ = keyPressed_ = nullptr;
    HideToolTip();
    if (root_ && root_ != root) AddDelayedCleanup(root_);
    root_ = root;
    needLayout_ = firstLayout_ = needFocus_ = true;
    InitControls(root);
    if (window_) InvalidateRect(window_, nullptr, FALSE);
    return true;
}

bool CPaintHostUI::InitControls(CControlUI* control, CControlUI* parent) {
    if (!control) return false;
    control->Attach(this, parent ? parent : control->GetParent(), true);
    control->Lookup(FindControlFromNameRegistration, this, UIFIND_ALL);
    return true;
}

CControlUI* CPaintHostUI::FindControlFromNameRegistration(CControlUI* control, void* data) {
    CPaintHostUI* self = static_cast<CPaintHostUI*>(data);
    const std::wstring& name = control->GetName();
    if (!name.empty() && self->names_.find(name) == self->names_.end()) self->names_[name] = control;
    return nullptr;
}

void CPaintHostUI::ReapObjects(CControlUI* control) {
    if (!control) return;
    // Only pointer comparisons here: this runs from control destructors.
    if (focus_ == control) focus_ = nullptr;
    if (hot_ == control) hot_ = nullptr;
    if (pushed_ == control) pushed_ = nullptr;
    if (keyPressed_ == control) keyPressed_ = nullptr;
    if (pendingValue_ == control) pendingValue_ = nullptr;
    if (tooltipOwner_ == control) HideToolTip();
    KillTimer(control);
    for (auto it = names_.begin(); it != names_.end();) {
        if (it->second == control)
            it = names_.erase(it);
        else
            ++it;
    }
    delayedNotifications_.erase(std::remove_if(delayedNotifications_.begin(), delayedNotifications_.end(),
                                               [control](const TNotifyRecord& r) { return r.sender == control; }),
                                delayedNotifications_.end());
    for (auto it = optionGroups_.begin(); it != optionGroups_.end();) {
        RemoveItem(it->second, control);
        if (it->second.empty())
            it = optionGroups_.erase(it);
        else
            ++it;
    }
}

void CPaintHostUI::AddDelayedCleanup(CControlUI* control) {
    if (!control) return;
    control->Attach(this, nullptr, false);
    delayedCleanup_.push_back(control);
    if (window_) PostMessageW(window_, painthost::kMsgDelayed, 0, 0);
}

void CPaintHostUI::DeleteDelayedCleanup() {
    // Swapped out first: a deleted container queues its children again.
    std::vector<CControlUI*> cleanup;
    cleanup.swap(delayedCleanup_);
    for (CControlUI* c : cleanup) delete c;
}

CControlUI* CPaintHostUI::FindByName(const std::wstring& name) const {
    auto it = names_.find(name);
    return it == names_.end() ? nullptr : it->second;
}

CControlUI* CPaintHostUI::FindControlFromPoint(CControlUI* control, void*) { return control; }

CControlUI* CPaintHostUI::FindControl(POINT pt) const {
    if (!root_) return nullptr;
    return root_->Lookup(FindControlFromPoint, &pt, UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST);
}

// ---- notifications ------------------------------------------------------------

bool CPaintHostUI::AddNotifier(INotifyUI* n) { return AddUnique(notifiers_, n); }
bool CPaintHostUI::RemoveNotifier(INotifyUI* n) { return RemoveItem(notifiers_, n); }

void CPaintHostUI::RaiseNotification(TNotifyRecord& msg, bool delayed) {
    msg.ptMouse = lastMouse_;
    msg.timestamp = GetTickCount();
    if (usedVirtualWnd_ && msg.sender) msg.virtualWnd = msg.sender->GetVirtualWnd();
    if (delayed) {
        delayedNotifications_.push_back(msg);
        if (window_) PostMessageW(window_, painthost::kMsgDelayed, 0, 0);
        return;
    }
    Deliver(msg);
}

void CPaintHostUI::RaiseNotification(CControlUI* sender, const wchar_t* type, WPARAM wParam, LPARAM lParam,
                                     bool delayed) {
    TNotifyRecord msg;
    msg.sender = sender;
    msg.type = type ? type : L"";
    msg.wParam = wParam;
    msg.lParam = lParam;
    RaiseNotification(msg, delayed);
}

void CPaintHostUI::Deliver(TNotifyRecord& msg) {
    if (msg.sender) {
        // A copy: a listener may change the control's listener list.
        std::vector<ControlListener> listeners = msg.sender->OnNotifyListeners;
        for (auto& l : listeners) l(&msg);
    }
    // A copy too, and a notifier removed meanwhile is skipped.
    std::vector<INotifyUI*> notifiers = notifiers_;
    for (INotifyUI* n : notifiers)
        if (std::find(notifiers_.begin(), notifiers_.end(), n) != notifiers_.end()) n->Notify(msg);
}

void CPaintHostUI::DeliverDelayedNotifications() {
    while (!delayedNotifications_.empty()) {
        TNotifyRecord msg = delayedNotifications_.front();
        delayedNotifications_.erase(delayedNotifications_.begin());
        Deliver(msg);
    }
}
