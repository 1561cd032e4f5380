#include "ui/HorizontalLayout.h"

#include <cwchar>

#include "ui/StackLayout.h"
#include "ui/UIAttr.h"

void* CHorizontalLayoutUI::AsInterface(const wchar_t* name) {
    if (name && wcscmp(name, L"HorizontalLayout") == 0) return static_cast<CHorizontalLayoutUI*>(this);
    return CContainerUI::AsInterface(name);
}

UINT CHorizontalLayoutUI::GetControlFlags() const {
    return (IsEnabled() && sepWidth_ != 0) ? static_cast<UINT>(UIFLAG_SETCURSOR) : 0u;
}

void CHorizontalLayoutUI::SetPosition(const RECT& rc) {
    CControlUI::SetPosition(rc);
    if (items_.empty()) return;
    const RECT box = ContentBox();
    const SIZE avail = {box.right - box.left, box.bottom - box.top};

    std::vector<stacklayout::Child> plan;
    for (CControlUI* c : items_) {
        if (!c->IsVisible() || c->IsFloat()) continue;
        const RECT pad = Px(c->GetPadding());
        stacklayout::Child s;
        s.measured = c->MeasureSize(avail).cx;
        s.fixedCross = Px(c->GetFixedHeight());
        s.minMain = Px(c->GetMinWidth());
        s.maxMain = Px(c->GetMaxWidth());
        s.minCross = Px(c->GetMinHeight());
        s.maxCross = Px(c->GetMaxHeight());
        s.padBefore = pad.left;
        s.padAfter = pad.right;
        s.padCrossBefore = pad.top;
        s.padCrossAfter = pad.bottom;
        plan.push_back(s);
    }
    stacklayout::Arrange(plan, avail.cx, avail.cy, Px(childPadding_));

    size_t k = 0;
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* c = items_[static_cast<size_t>(i)];
        if (!c->IsVisible()) continue;
        if (c->IsFloat()) {
            PlaceFloatChild(i);
            continue;
        }
        const stacklayout::Child& s = plan[k++];
        RECT r = {box.left + s.pos, box.top + s.crossPos, box.left + s.pos + s.size, box.top + s.crossPos + s.crossSize};
        c->SetPosition(r);
    }
}

void CHorizontalLayoutUI::SetProperty(const wchar_t* name, const wchar_t* value) {
    if (name && wcscmp(name, L"sepwidth") == 0)
        SetSepWidth(uiattr::ParseInt(value));
    else if (name && wcscmp(name, L"sepimm") == 0)
        SetSepImmediate(uiattr::ParseBool(value));
    else
        CContainerUI::SetProperty(name, value);
}
