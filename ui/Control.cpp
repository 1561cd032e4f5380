// The control's state: identity, geometry and sizing rules, visibility and
// enabled state, layout requests, and the events it receives. Its markup
// attributes are in ControlAttributes.cpp, its colours, border, images and
// painting in ControlPaint.cpp.
#include "ui/Control.h"

#include <cwchar>

#include "ui/PaintHost.h"
#include "ui/Render.h"

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
    if (manager_) manager_->ReapObjects(this);
}

void* CControlUI::AsInterface(const wchar_t* name) {
    if (name && wcscmp(name, L"Control") == 0) return this;
    return nullptr;
}

bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }

void CControlUI::Attach(CPaintHostUI* manager, CControlUI* parent, bool init) {
    manager_ = manager;
    parent_ = parent;
    if (init && parent_) Initialize();
}

void CControlUI::SetText(const std::wstring& text) {
    if (text_ == text) return;
    text_ = text;
    Redraw();
    if (manager_) manager_->NotifyAccessible(this, EVENT_OBJECT_NAMECHANGE);
}

void CControlUI::SetPosition(const RECT& rcIn) {
    RECT rc = rcIn;
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    RECT old = bounds_;
    if (render::IsEmpty(old)) old = rc;
    bounds_ = rc;
    if (!manager_) return;

    if (!inSizeListeners_) {
        inSizeListeners_ = true;
        for (auto& l : OnSizeListeners) l(this);
        inSizeListeners_ = false;
    }

    if (floating_ && parent_) {
        const RECT& pr = parent_->GetPosition();
        floatOffset_.x = floatOffset_.x < 0 ? bounds_.right - pr.right : bounds_.left - pr.left;
        floatOffset_.y = floatOffset_.y < 0 ? bounds_.bottom - pr.bottom : bounds_.top - pr.top;
        fixedWidth_ = bounds_.right - bounds_.left;
        fixedHeight_ = bounds_.bottom - bounds_.top;
    }

    updateNeeded_ = false;
    RECT dirty;
    UnionRect(&dirty, &old, &bounds_);
    for (CControlUI* p = parent_; p; p = p->GetParent()) {
        if (!render::IntersectRects(dirty, dirty, p->GetPosition())) return;
    }
    manager_->Invalidate(dirty);
}

void CControlUI::RequestSizeLayout() {
    if (floating_)
        RequestLayout();
    else
        RequestParentLayout();
}

void CControlUI::SetPadding(const RECT& padding) {
    padding_ = padding;
    RequestParentLayout();
}

void CControlUI::SetFloatOffset(POINT offset) {
    floatOffset_ = offset;
    RequestSizeLayout();
}

void CControlUI::SetFixedWidth(int cx) {
    if (cx < 0) return;
    fixedWidth_ = cx;
    RequestSizeLayout();
}

void CControlUI::SetFixedHeight(int cy) {
    if (cy < 0) return;
    fixedHeight_ = cy;
    RequestSizeLayout();
}

void CControlUI::SetMinWidth(int cx) {
    if (cx < 0 || cx == minWidth_) return;
    minWidth_ = cx;
    RequestSizeLayout();
}

void CControlUI::SetMaxWidth(int cx) {
    if (cx < 0 || cx == maxWidth_) return;
    maxWidth_ = cx;
    RequestSizeLayout();
}

void CControlUI::SetMinHeight(int cy) {
    if (cy < 0 || cy == minHeight_) return;
    minHeight_ = cy;
    RequestSizeLayout();
}

void CControlUI::SetMaxHeight(int cy) {
    if (cy < 0 || cy == maxHeight_) return;
    maxHeight_ = cy;
    RequestSizeLayout();
}

void CControlUI::SetRelativePos(int moveX, int moveY, int zoomX, int zoomY) {
    relative_.moveX = moveX;
    relative_.moveY = moveY;
    relative_.zoomX = zoomX;
    relative_.zoomY = zoomY;
    relative_.enabled = true;
}

void CControlUI::SetToolTip(const std::wstring& text) {
    std::wstring out = text;
    for (size_t pos = 0; (pos = out.find(L"<n>", pos)) != std::wstring::npos; pos += 2) out.replace(pos, 3, L"\r\n");
    tooltip_ = out;
}

void CControlUI::SetVisible(bool visible) {
    if (visible_ == visible) return;
    bool wasVisible = IsVisible();
    focused_ = false;
    visible_ = visible;
    if (!visible && manager_ && manager_->GetFocus() == this) manager_->SetFocus(nullptr);
    if (IsVisible() != wasVisible) RequestParentLayout();
}

void CControlUI::SetParentVisible(bool visible) {
    parentVisible_ = visible;
    if (!visible && manager_ && manager_->GetFocus() == this) manager_->SetFocus(nullptr);
}

bool CControlUI::IsEnabled() const {
    for (const CControlUI* c = this; c; c = c->GetParent())
        if (!c->enabled_) return false;
    return true;
}

void CControlUI::SetEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    Redraw();
    if (manager_) manager_->NotifyAccessible(this, EVENT_OBJECT_STATECHANGE);
}

void CControlUI::SetFocus() {
    if (manager_) manager_->SetFocus(this);
}

void CControlUI::SetFloat(bool floating) {
    if (floating_ == floating) return;
    floating_ = floating;
    RequestParentLayout();
}

CControlUI* CControlUI::Lookup(FindControlProc visitor, void* data, UINT flags) {
    if ((flags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
    if ((flags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
    if ((flags & UIFIND_HITTEST) && (!mouseEnabled_ || !PtInRect(&bounds_, *static_cast<POINT*>(data))))
        return nullptr;
    return visitor(this, data);
}

void CControlUI::Redraw() {
    if (!IsVisible() || !manager_) return;
    RECT rc = bounds_;
    for (CControlUI* p = parent_; p; p = p->GetParent())
        if (!render::IntersectRects(rc, rc, p->GetPosition())) return;
    if (render::IsEmpty(rc)) return;
    manager_->Invalidate(rc);
}

void CControlUI::RequestLayout() {
    if (!IsVisible()) return;
    updateNeeded_ = true;
    Redraw();
    if (manager_) manager_->NeedUpdate();
}

void CControlUI::RequestParentLayout() {
    if (parent_) {
        parent_->RequestLayout();
        parent_->Redraw();
    } else {
        RequestLayout();
    }
    if (manager_) manager_->NeedUpdate();
}

void CControlUI::Initialize() {
    OnInit();
    for (auto& l : OnInitListeners) l(this);
}

void CControlUI::Event(TEventUI& event) {
    bool pass = true;
    for (auto& l : OnEventListeners)
        if (!l(&event)) pass = false;
    if (pass) HandleEvent(event);
}

void CControlUI::HandleEvent(TEventUI& event) {
    switch (event.type) {
        case UIEVENT_CONTEXTMENU:
            if (contextMenu_) {
                if (manager_) manager_->RaiseNotification(this, L"menu", event.wParam, event.lParam);
                return;
            }
            break;
        case UIEVENT_SETFOCUS:
            focused_ = true;
            Redraw();
            return;
        case UIEVENT_KILLFOCUS:
            focused_ = false;
            Redraw();
            return;
        case UIEVENT_SETCURSOR:
            ::SetCursor(LoadCursorW(nullptr, IDC_ARROW));
            return;
        case UIEVENT_TIMER:
            if (manager_) manager_->RaiseNotification(this, L"timer", event.wParam, event.lParam);
            return;
        default:
            break;
    }
    if (parent_) parent_->HandleEvent(event);
}

const std::wstring& CControlUI::GetVirtualWnd() const {
    if (!virtualWnd_.empty() || !parent_) return virtualWnd_;
    return parent_->GetVirtualWnd();
}

void CControlUI::SetVirtualWnd(const std::wstring& name) {
    virtualWnd_ = name;
    if (manager_) manager_->UsedVirtualWnd(true);
}

SIZE CControlUI::MeasureSize(SIZE) { return SIZE{fixedWidth_, fixedHeight_}; }
