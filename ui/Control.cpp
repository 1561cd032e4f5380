#include "ui/Control.h"

#include <cwchar>

#include "ui/Container.h"
#include "ui/ImageString.h"
#include "ui/PaintHost.h"
#include "ui/Render.h"
#include "ui/UIAttr.h"

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

void CControlUI::SetBkColor(DWORD color) {
    if (bkColor_ == color) return;
    bkColor_ = color;
    Redraw();
}
void CControlUI::SetBkColor2(DWORD color) {
    if (bkColor2_ == color) return;
    bkColor2_ = color;
    Redraw();
}
void CControlUI::SetBkColor3(DWORD color) {
    if (bkColor3_ == color) return;
    bkColor3_ = color;
    Redraw();
}
void CControlUI::SetBorderColor(DWORD color) {
    if (borderColor_ == color) return;
    borderColor_ = color;
    Redraw();
}
void CControlUI::SetFocusBorderColor(DWORD color) {
    if (focusBorderColor_ == color) return;
    focusBorderColor_ = color;
    Redraw();
}
void CControlUI::SetColorHSL(bool hsl) {
    if (colorHsl_ == hsl) return;
    colorHsl_ = hsl;
    Redraw();
}
void CControlUI::SetBorderSize(int size) {
    if (borderSize_ != size) {
        borderSize_ = size;
        Redraw();
    }
    borderSides_ = RECT{0, 0, 0, 0};
    Redraw();
}
void CControlUI::SetBorderSides(const RECT& sides) {
    borderSides_ = sides;
    Redraw();
}
void CControlUI::SetBorderStyle(int style) {
    borderStyle_ = style;
    Redraw();
}
void CControlUI::SetBorderRound(SIZE round) {
    borderRound_ = round;
    Redraw();
}
void CControlUI::SetBkImage(const std::wstring& image) {
    if (bkImage_ == image) return;
    bkImage_ = image;
    Redraw();
}
void CControlUI::SetForeImage(const std::wstring& image) {
    if (foreImage_ == image) return;
    foreImage_ = image;
    Redraw();
}

const std::wstring& CControlUI::GetVirtualWnd() const {
    if (!virtualWnd_.empty() || !parent_) return virtualWnd_;
    return parent_->GetVirtualWnd();
}

void CControlUI::SetVirtualWnd(const std::wstring& name) {
    virtualWnd_ = name;
    if (manager_) manager_->UsedVirtualWnd(true);
}

void CControlUI::SetProperty(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    const std::wstring n(name);
    if (n == L"pos") {
        RECT rc = uiattr::ParseRect(value);
        POINT offset = {rc.left >= 0 ? rc.left : rc.right, rc.top >= 0 ? rc.top : rc.bottom};
        SetFixedWidth(rc.right - rc.left);
        SetFixedHeight(rc.bottom - rc.top);
        SetFloatOffset(offset);
    } else if (n == L"relativepos") {
        int v[4];
        uiattr::ParseList(value, v, 4);
        SetRelativePos(v[0], v[1], v[2], v[3]);
    } else if (n == L"padding") {
        SetPadding(uiattr::ParseRect(value));
    } else if (n == L"bkcolor" || n == L"bkcolor1") {
        SetBkColor(uiattr::ParseColor(value));
    } else if (n == L"bkcolor2") {
        SetBkColor2(uiattr::ParseColor(value));
    } else if (n == L"bkcolor3") {
        SetBkColor3(uiattr::ParseColor(value));
    } else if (n == L"bordercolor") {
        SetBorderColor(uiattr::ParseColor(value));
    } else if (n == L"focusbordercolor") {
        SetFocusBorderColor(uiattr::ParseColor(value));
    } else if (n == L"colorhsl") {
        SetColorHSL(uiattr::ParseBool(value));
    } else if (n == L"bordersize") {
        if (wcschr(value, L',')) {
            SetBorderSides(uiattr::ParseRect(value));
        } else {
            SetBorderSize(uiattr::ParseInt(value));
        }
    } else if (n == L"leftbordersize") {
        borderSides_.left = uiattr::ParseInt(value);
        Redraw();
    } else if (n == L"topbordersize") {
        borderSides_.top = uiattr::ParseInt(value);
        Redraw();
    } else if (n == L"rightbordersize") {
        borderSides_.right = uiattr::ParseInt(value);
        Redraw();
    } else if (n == L"bottombordersize") {
        borderSides_.bottom = uiattr::ParseInt(value);
        Redraw();
    } else if (n == L"borderstyle") {
        SetBorderStyle(uiattr::ParseInt(value));
    } else if (n == L"borderround") {
        SetBorderRound(uiattr::ParseSize(value));
    } else if (n == L"bkimage") {
        SetBkImage(value);
    } else if (n == L"foreimage") {
        SetForeImage(value);
    } else if (n == L"width") {
        SetFixedWidth(uiattr::ParseInt(value));
    } else if (n == L"height") {
        SetFixedHeight(uiattr::ParseInt(value));
    } else if (n == L"minwidth") {
        SetMinWidth(uiattr::ParseInt(value));
    } else if (n == L"minheight") {
        SetMinHeight(uiattr::ParseInt(value));
    } else if (n == L"maxwidth") {
        SetMaxWidth(uiattr::ParseInt(value));
    } else if (n == L"maxheight") {
        SetMaxHeight(uiattr::ParseInt(value));
    } else if (n == L"name") {
        SetName(value);
    } else if (n == L"text") {
        SetText(value);
    } else if (n == L"tooltip") {
        SetToolTip(value);
    } else if (n == L"userdata") {
        SetUserData(value);
    } else if (n == L"enabled") {
        SetEnabled(uiattr::ParseBool(value));
    } else if (n == L"mouse") {
        SetMouseEnabled(uiattr::ParseBool(value));
    } else if (n == L"keyboard") {
        SetKeyboardEnabled(uiattr::ParseBool(value));
    } else if (n == L"visible") {
        SetVisible(uiattr::ParseBool(value));
    } else if (n == L"float") {
        SetFloat(uiattr::ParseBool(value));
    } else if (n == L"menu") {
        SetContextMenuUsed(uiattr::ParseBool(value));
    } else if (n == L"shortcut") {
        SetShortcut(value[0]);
    } else if (n == L"virtualwnd") {
        SetVirtualWnd(value);
    }
}

void CControlUI::ApplyAttributeList(const wchar_t* list) {
    for (const auto& kv : uiattr::ParseAttributeList(list)) SetProperty(kv.first.c_str(), kv.second.c_str());
}

SIZE CControlUI::MeasureSize(SIZE) { return SIZE{fixedWidth_, fixedHeight_}; }

DWORD CControlUI::AdjustedColor(DWORD color) const {
    if (!colorHsl_) return color;
    short h, s, l;
    CPaintHostUI::GetHSL(&h, &s, &l);
    return render::AdjustColor(color, h, s, l);
}

bool CControlUI::DrawImage(HDC dc, const std::wstring& description, const wchar_t* modifier) {
    return DrawImageString(dc, manager_, bounds_, paintRect_, description.c_str(), modifier);
}

void CControlUI::Paint(HDC dc, const RECT& paint) {
    if (!render::IntersectRects(paintRect_, paint, bounds_)) return;
    if (borderRound_.cx > 0 || borderRound_.cy > 0) {
        CRenderClip clip;
        clip.GenerateRound(dc, paintRect_, bounds_, borderRound_.cx, borderRound_.cy);
        PaintBkColor(dc);
        PaintBkImage(dc);
        PaintStatusImage(dc);
        PaintText(dc);
        PaintBorder(dc);
    } else {
        PaintBkColor(dc);
        PaintBkImage(dc);
        PaintStatusImage(dc);
        PaintText(dc);
        PaintBorder(dc);
    }
}

void CControlUI::PaintBkColor(HDC dc) {
    if (bkColor_ == 0) return;
    if (bkColor2_ == 0) {
        render::DrawColor(dc, (bkColor_ >> 24) == 0xFF ? paintRect_ : bounds_, AdjustedColor(bkColor_));
        return;
    }
    if (bkColor3_ == 0) {
        render::DrawGradient(dc, bounds_, AdjustedColor(bkColor_), AdjustedColor(bkColor2_), true, 16);
        return;
    }
    RECT upper = bounds_, lower = bounds_;
    upper.bottom = lower.top = bounds_.top + (bounds_.bottom - bounds_.top) / 2;
    render::DrawGradient(dc, upper, AdjustedColor(bkColor_), AdjustedColor(bkColor2_), true, 8);
    render::DrawGradient(dc, lower, AdjustedColor(bkColor2_), AdjustedColor(bkColor3_), true, 8);
}

void CControlUI::PaintBkImage(HDC dc) {
    if (bkImage_.empty()) return;
    if (!DrawImage(dc, bkImage_)) bkImage_.clear();
}

void CControlUI::PaintStatusImage(HDC dc) {
    if (foreImage_.empty()) return;
    if (!DrawImage(dc, foreImage_)) foreImage_.clear();
}

void CControlUI::PaintText(HDC) {}

void CControlUI::PaintBorder(HDC dc) {
    if (borderColor_ == 0 && focusBorderColor_ == 0) return;
    const DWORD border = AdjustedColor(borderColor_);
    const DWORD focusBorder = AdjustedColor(focusBorderColor_);
    const bool useFocus = focused_ && focusBorderColor_ != 0;
    if (borderSize_ > 0 && (borderRound_.cx > 0 || borderRound_.cy > 0)) {
        render::DrawRoundRect(dc, bounds_, borderSize_, borderRound_.cx, borderRound_.cy,
                              useFocus ? focusBorder : border);
        return;
    }
    if (useFocus && borderSize_ > 0) {
        render::DrawRect(dc, bounds_, borderSize_, focusBorder);
        return;
    }
    const RECT& s = borderSides_;
    if (s.left <= 0 && s.top <= 0 && s.right <= 0 && s.bottom <= 0) {
        if (borderSize_ > 0) render::DrawRect(dc, bounds_, borderSize_, border);
        return;
    }
    const RECT& b = bounds_;
    if (s.left > 0) render::DrawLine(dc, {b.left, b.top, b.left, b.bottom}, s.left, border, borderStyle_);
    if (s.top > 0) render::DrawLine(dc, {b.left, b.top, b.right, b.top}, s.top, border, borderStyle_);
    if (s.right > 0) render::DrawLine(dc, {b.right, b.top, b.right, b.bottom}, s.right, border, borderStyle_);
    if (s.bottom > 0) render::DrawLine(dc, {b.left, b.bottom, b.right, b.bottom}, s.bottom, border, borderStyle_);
}
