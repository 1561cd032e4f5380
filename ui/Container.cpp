#include "ui/Container.h"

#include <cwchar>

#include "ui/FloatPlacement.h"
#include "ui/PaintHost.h"
#include "ui/Render.h"
#include "ui/UIAttr.h"

CContainerUI::CContainerUI() = default;

CContainerUI::~CContainerUI() {
    std::vector<CControlUI*> items;
    items.swap(items_);
    if (!autoDestroy_) return;
    for (CControlUI* c : items) DestroyChild(c);
}

void CContainerUI::DestroyChild(CControlUI* control) {
    if (delayedDestroy_ && manager_)
        manager_->AddDelayedCleanup(control);
    else
        delete control;
}

void* CContainerUI::AsInterface(const wchar_t* name) {
    if (name && wcscmp(name, L"IContainer") == 0) return static_cast<IContainerUI*>(this);
    if (name && wcscmp(name, L"Container") == 0) return static_cast<CContainerUI*>(this);
    return CControlUI::AsInterface(name);
}

CControlUI* CContainerUI::GetItemAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return items_[static_cast<size_t>(index)];
}

int CContainerUI::GetItemIndex(CControlUI* control) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == control) return static_cast<int>(i);
    return -1;
}

bool CContainerUI::Add(CControlUI* control) { return AddAt(control, GetCount()); }

bool CContainerUI::AddAt(CControlUI* control, int index) {
    if (!control || index < 0 || index > GetCount() || GetItemIndex(control) >= 0) return false;
    if (manager_)
        manager_->InitControls(control, this);
    else
        control->Attach(nullptr, this, false);
    items_.insert(items_.begin() + index, control);
    if (IsVisible())
        RequestLayout();
    else
        control->SetParentVisible(false);
    return true;
}

bool CContainerUI::Remove(CControlUI* control) { return RemoveAt(GetItemIndex(control)); }

bool CContainerUI::RemoveAt(int index) {
    CControlUI* control = GetItemAt(index);
    if (!control) return false;
    items_.erase(items_.begin() + index);
    if (autoDestroy_) DestroyChild(control);
    RequestLayout();
    return true;
}

void CContainerUI::RemoveAll() {
    std::vector<CControlUI*> items;
    items.swap(items_);
    if (autoDestroy_)
        for (CControlUI* c : items) DestroyChild(c);
    RequestLayout();
}

void CContainerUI::SetInset(const RECT& inset) {
    inset_ = inset;
    RequestLayout();
}

void CContainerUI::SetChildPadding(int padding) {
    childPadding_ = padding;
    RequestLayout();
}

void CContainerUI::Attach(CPaintHostUI* manager, CControlUI* parent, bool init) {
    for (CControlUI* c : items_) c->Attach(manager, this, init);
    CControlUI::Attach(manager, parent, init);
}

void CContainerUI::SetVisible(bool visible) {
    if (visible_ == visible) return;
    CControlUI::SetVisible(visible);
    for (CControlUI* c : items_) c->SetParentVisible(IsVisible());
}

void CContainerUI::SetParentVisible(bool visible) {
    CControlUI::SetParentVisible(visible);
    for (CControlUI* c : items_) c->SetParentVisible(IsVisible());
}

CControlUI* CContainerUI::Lookup(FindControlProc visitor, void* data, UINT flags) {
    if ((flags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
    if ((flags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
    if (flags & UIFIND_HITTEST) {
        if (!PtInRect(&bounds_, *static_cast<POINT*>(data))) return nullptr;
        if (!mouseChildEnabled_) return CControlUI::Lookup(visitor, data, flags);
    }
    if (flags & UIFIND_ME_FIRST) {
        if (CControlUI* c = CControlUI::Lookup(visitor, data, flags)) return c;
    }
    const RECT inner = ContentBox();
    const int n = GetCount();
    for (int k = 0; k < n; ++k) {
        int i = (flags & UIFIND_TOP_FIRST) ? n - 1 - k : k;
        CControlUI* child = items_[static_cast<size_t>(i)];
        CControlUI* found = child->Lookup(visitor, data, flags);
        if (!found) continue;
        // In a hit test the inset belongs to the container, except for
        // floating children, which may cover it.
        if ((flags & UIFIND_HITTEST) && !child->IsFloat() && !PtInRect(&inner, *static_cast<POINT*>(data))) continue;
        return found;
    }
    if (!(flags & UIFIND_ME_FIRST)) return CControlUI::Lookup(visitor, data, flags);
    return nullptr;
}

RECT CContainerUI::ContentBox() const {
    const RECT inset = Px(inset_);
    return RECT{bounds_.left + inset.left, bounds_.top + inset.top, bounds_.right - inset.right,
                bounds_.bottom - inset.bottom};
}

void CContainerUI::SetPosition(const RECT& rc) {
    CControlUI::SetPosition(rc);
    const RECT box = ContentBox();
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* c = items_[static_cast<size_t>(i)];
        if (!c->IsVisible()) continue;
        if (c->IsFloat())
            PlaceFloatChild(i);
        else
            c->SetPosition(box);
    }
}

void CContainerUI::PlaceFloatChild(int index) {
    CControlUI* c = GetItemAt(index);
    if (!c || !c->IsVisible() || !c->IsFloat()) return;
    const FloatPlacement place = PlaceFloat(bounds_, c->GetFloatOffset(), c->GetFixedWidth(), c->GetFixedHeight(),
                                            c->GetRelativePos(), manager_ ? manager_->GetDpi() : 96);
    if (c->IsRelativePos()) {
        // The relative rules move and grow the control for good, as a move
        // by hand would: recorded in design pixels.
        c->SetRelativeParentSize(place.parentSize);
        if (place.moved) {
            c->SetFloatOffset(place.offset);
            c->SetFixedWidth(place.size.cx);
            c->SetFixedHeight(place.size.cy);
        }
    }
    c->PlaceAt(place.rect);
}

void CContainerUI::SetProperty(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    const std::wstring n(name);
    if (n == L"inset") {
        SetInset(uiattr::ParseRect(value));
    } else if (n == L"childpadding") {
        SetChildPadding(uiattr::ParseInt(value));
    } else if (n == L"mousechild") {
        SetMouseChildEnabled(uiattr::ParseBool(value));
    } else if (n == L"vscrollbar" || n == L"hscrollbar" || n == L"vscrollbarstyle" || n == L"hscrollbarstyle" ||
               n == L"vscrollsize") {
        // Scroll bars are not part of this toolkit's skins; the attributes are
        // accepted so that a layout naming them still loads.
    } else {
        CControlUI::SetProperty(name, value);
    }
}

void CContainerUI::Paint(HDC dc, const RECT& paint) {
    RECT temp;
    if (!render::IntersectRects(temp, paint, bounds_)) return;
    CRenderClip clip;
    clip.Generate(dc, temp);
    CControlUI::Paint(dc, paint);
    if (items_.empty()) return;
    const RECT box = ContentBox();
    RECT inner;
    const bool meetsBox = render::IntersectRects(inner, paint, box);
    CRenderClip childClip;
    if (meetsBox) childClip.Generate(dc, inner);
    for (CControlUI* c : items_) {
        if (!c->IsVisible()) continue;
        RECT rc;
        if (!render::IntersectRects(rc, paint, c->GetPosition())) continue;
        if (c->IsFloat()) {
            if (!render::IntersectRects(rc, bounds_, c->GetPosition())) continue;
            // Floating children may cover the inset: paint them under the
            // container's own clip.
            if (meetsBox) CRenderClip::UseOldClipBegin(dc, childClip);
            c->Paint(dc, paint);
            if (meetsBox) CRenderClip::UseOldClipEnd(dc, childClip);
        } else if (meetsBox) {
            if (!render::IntersectRects(rc, box, c->GetPosition())) continue;
            c->Paint(dc, paint);
        }
    }
}
