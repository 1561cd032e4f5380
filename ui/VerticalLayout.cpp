#include "ui/VerticalLayout.h"

#include <cwchar>

#include "ui/StackLayout.h"
#include "ui/UIAttr.h"

void* CVerticalLayoutUI::AsInterface(const wchar_t* name) {
    if (name && wcscmp(name, L"VerticalLayout") == 0) return static_cast<CVerticalLayoutUI*>(this);
    return CContainerUI::AsInterface(name);
}

UINT CVerticalLayoutUI::GetControlFlags() const {
    return (IsEnabled() && sepHeight_ != 0) ? static_cast<UINT>(UIFLAG_SETCURSOR) : 0u;
}

void CVerticalLayoutUI::SetPosition(const RECT& rc) {
    CControlUI::SetPosition(rc);
    if (items_.empty()) return;
    const RECT box = ContentBox();
    const SIZE avail = {box.right - box.left, box.bottom - box.top};

    std::vector<stacklayout::Child> plan;
    std::vector<CControlUI*> stacked;
    for (CControlUI* c : items_) {
        if (!c->IsVisible() || c->IsFloat()) continue;
        const RECT pad = Px(c->GetPadding());
        stacklayout::Child s;
        s.measured = c->MeasureSize(avail).cy;
        s.fixedCross = Px(c->GetFixedWidth());
        s.minMain = Px(c->GetMinHeight());
        s.maxMain = Px(c->GetMaxHeight());
        s.minCross = Px(c->GetMinWidth());
        s.maxCross = Px(c->GetMaxWidth());
        s.padBefore = pad.top;
        s.padAfter = pad.bottom;
        s.padCrossBefore = pad.left;
        s.padCrossAfter = pad.right;
        plan.push_back(s);
        stacked.push_back(c);
    }
    stacklayout::Arrange(plan, avail.cy, avail.cx, Px(childPadding_));

    size_t k = 0;
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* c = items_[static_cast<size_t>(i)];
        if (!c->IsVisible()) continue;
        if (c->IsFloat()) {
            PlaceFloatChild(i);
            continue;
        }
        const stacklayout::Child& s = plan[k++];
        RECT r = {box.left + s.crossPos, box.top + s.pos, box.left + s.crossPos + s.crossSize, box.top + s.pos + s.size};
        c->SetPosition(r);
    }
}

void CVerticalLayoutUI::SetProperty(const wchar_t* name, const wchar_t* value) {
    if (name && wcscmp(name, L"sepheight") == 0)
        SetSepHeight(uiattr::ParseInt(value));
    else if (name && wcscmp(name, L"sepimm") == 0)
        SetSepImmediate(uiattr::ParseBool(value));
    else
        CContainerUI::SetProperty(name, value);
}
