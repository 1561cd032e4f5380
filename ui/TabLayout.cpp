#include "ui/TabLayout.h"

#include <cwchar>

#include "ui/PaintHost.h"
#include "ui/UIAttr.h"

void* CTabLayoutUI::AsInterface(const wchar_t* name) {
    if (name && wcscmp(name, L"TabLayout") == 0) return static_cast<CTabLayoutUI*>(this);
    return CContainerUI::AsInterface(name);
}

bool CTabLayoutUI::Add(CControlUI* control) { return AddAt(control, GetCount()); }

bool CTabLayoutUI::AddAt(CControlUI* control, int index) {
    if (!CContainerUI::AddAt(control, index)) return false;
    if (curSel_ == -1 && control->IsVisible()) {
        curSel_ = index;
    } else {
        // A page inserted in front of the selection shifts it; either way only
        // the selected page stays visible.
        if (curSel_ != -1 && index <= curSel_) ++curSel_;
        control->SetVisible(false);
    }
    return true;
}

bool CTabLayoutUI::Remove(CControlUI* control) { return RemoveAt(GetItemIndex(control)); }

bool CTabLayoutUI::RemoveAt(int index) {
    if (!GetItemAt(index)) return false;
    if (!CContainerUI::RemoveAt(index)) return false;
    if (curSel_ == index) {
        if (GetCount() > 0) {
            curSel_ = 0;
            GetItemAt(0)->SetVisible(true);
        } else {
            curSel_ = -1;
        }
        RequestParentLayout();
    } else if (curSel_ > index) {
        --curSel_;
    }
    return true;
}

void CTabLayoutUI::RemoveAll() {
    curSel_ = -1;
    CContainerUI::RemoveAll();
    RequestParentLayout();
}

bool CTabLayoutUI::Select(int index) {
    if (index < 0 || index >= GetCount()) return false;
    if (index == curSel_) return true;
    const int old = curSel_;
    curSel_ = index;
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* c = GetItemAt(i);
        if (i == index) {
            c->SetVisible(true);
            c->SetFocus();
            SetPosition(bounds_);
        } else {
            c->SetVisible(false);
        }
    }
    RequestParentLayout();
    if (manager_) {
        // A screen reader hears the old page's controls go and the new one's come.
        if (old >= 0) manager_->NotifyAccessibleSubtree(GetItemAt(old), EVENT_OBJECT_HIDE);
        manager_->NotifyAccessibleSubtree(GetItemAt(index), EVENT_OBJECT_SHOW);
        manager_->Invalidate(RECT{0, 0, 0x7FFF, 0x7FFF});
        manager_->RaiseNotification(this, L"tabselect", static_cast<WPARAM>(curSel_), static_cast<LPARAM>(old));
    }
    return true;
}

void CTabLayoutUI::SetPosition(const RECT& rc) {
    CControlUI::SetPosition(rc);
    const RECT box = ContentBox();
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* c = GetItemAt(i);
        if (!c->IsVisible()) continue;
        if (c->IsFloat()) {
            PlaceFloatChild(i);
            continue;
        }
        if (i != curSel_) continue;
        const RECT pad = c->GetPadding();
        RECT r = {box.left + pad.left, box.top + pad.top, box.right - pad.right, box.bottom - pad.bottom};
        const int aw = r.right - r.left, ah = r.bottom - r.top;
        SIZE sz = c->MeasureSize(SIZE{aw, ah});
        if (sz.cx == 0) sz.cx = aw > 0 ? aw : 0;
        if (sz.cy == 0) sz.cy = ah > 0 ? ah : 0;
        if (sz.cx < c->GetMinWidth()) sz.cx = c->GetMinWidth();
        if (sz.cx > c->GetMaxWidth()) sz.cx = c->GetMaxWidth();
        if (sz.cy < c->GetMinHeight()) sz.cy = c->GetMinHeight();
        if (sz.cy > c->GetMaxHeight()) sz.cy = c->GetMaxHeight();
        c->SetPosition(RECT{r.left, r.top, r.left + sz.cx, r.top + sz.cy});
    }
}

void CTabLayoutUI::SetProperty(const wchar_t* name, const wchar_t* value) {
    if (name && value && wcscmp(name, L"selectedid") == 0) {
        int id = uiattr::ParseInt(value);
        if (id >= 0) Select(id);
    }
    CContainerUI::SetProperty(name, value);
}
