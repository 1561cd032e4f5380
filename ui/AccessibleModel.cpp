#include "ui/AccessibleModel.h"

#include <oleacc.h>

#include "ui/Button.h"
#include "ui/Container.h"
#include "ui/Control.h"
#include "ui/Edit.h"
#include "ui/Option.h"
#include "ui/Progress.h"
#include "Runtime/TextUtil.h"

namespace {

enum class Kind { kNone, kButton, kCheck, kLink, kStatic, kEdit, kProgress };

Kind KindOf(CControlUI& c) {
    const bool link = c.GetAccessibleRole() == L"link";
    if (c.AsInterface(L"Option")) return Kind::kCheck;
    if (c.AsInterface(L"Button")) return link ? Kind::kLink : Kind::kButton;
    if (c.AsInterface(L"Edit")) return Kind::kEdit;
    if (c.AsInterface(L"Progress")) return Kind::kProgress;
    // Only plain labels: a layout or an image is nothing to read.
    if (c.AsInterface(L"Label") && (!c.GetText().empty() || !c.GetAccessibleName().empty()))
        return link ? Kind::kLink : Kind::kStatic;
    return Kind::kNone;
}

void Collect(CControlUI* c, std::vector<CControlUI*>& out) {
    if (!c) return;
    if (KindOf(*c) != Kind::kNone) out.push_back(c);
    auto* container = static_cast<CContainerUI*>(c->AsInterface(L"Container"));
    if (!container) return;
    for (int i = 0; i < container->GetCount(); ++i) Collect(container->GetItemAt(i), out);
}

// An edit field is named by the label written before it in its layout.
std::wstring LabelBefore(CControlUI& c) {
    auto* parent = c.GetParent() ? static_cast<CContainerUI*>(c.GetParent()->AsInterface(L"Container")) : nullptr;
    if (!parent) return std::wstring();
    for (int i = parent->GetItemIndex(&c) - 1; i >= 0; --i) {
        CControlUI* before = parent->GetItemAt(i);
        if (before && KindOf(*before) == Kind::kStatic) return SpokenText(before->GetText());
    }
    return std::wstring();
}

}  // namespace

std::wstring SpokenText(const std::wstring& text) {
    std::wstring out;
    for (wchar_t ch : text) {
        if (ch == L'\r') continue;
        out += ch == L'\n' ? L' ' : ch;
    }
    return out;
}

std::vector<CControlUI*> ExposedControls(CControlUI* root) {
    std::vector<CControlUI*> out;
    Collect(root, out);
    return out;
}

AccessibleDescription DescribeControl(CControlUI& c, bool windowEnabled) {
    AccessibleDescription d;
    const Kind kind = KindOf(c);
    if (kind == Kind::kNone) return d;
    d.name = c.GetAccessibleName().empty() ? SpokenText(c.GetText()) : c.GetAccessibleName();
    const bool usable = windowEnabled && c.IsEnabled() && c.IsVisible();
    switch (kind) {
        case Kind::kButton:
            d.role = ROLE_SYSTEM_PUSHBUTTON;
            d.defaultAction = L"按下";
            break;
        case Kind::kLink:
            d.role = ROLE_SYSTEM_LINK;
            d.state |= STATE_SYSTEM_LINKED;
            d.defaultAction = L"跳转";
            break;
        case Kind::kCheck: {
            d.role = ROLE_SYSTEM_CHECKBUTTON;
            const bool checked = static_cast<COptionUI*>(c.AsInterface(L"Option"))->IsSelected();
            if (checked) d.state |= STATE_SYSTEM_CHECKED;
            d.defaultAction = checked ? L"清除" : L"勾选";
            break;
        }
        case Kind::kEdit:
            d.role = ROLE_SYSTEM_TEXT;
            if (c.GetAccessibleName().empty()) d.name = LabelBefore(c);
            d.value = c.GetText();
            if (static_cast<CEditUI*>(c.AsInterface(L"Edit"))->IsReadOnly()) d.state |= STATE_SYSTEM_READONLY;
            break;
        case Kind::kProgress: {
            d.role = ROLE_SYSTEM_PROGRESSBAR;
            d.state |= STATE_SYSTEM_READONLY;
            auto* bar = static_cast<CProgressUI*>(c.AsInterface(L"Progress"));
            const int range = bar->GetMaxValue() > bar->GetMinValue() ? bar->GetMaxValue() - bar->GetMinValue() : 1;
            int percent = static_cast<int>((static_cast<long long>(bar->GetValue()) - bar->GetMinValue()) * 100 / range);
            percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
            d.value = Format(L"%d%%", percent);
            break;
        }
        case Kind::kStatic:
            d.role = ROLE_SYSTEM_STATICTEXT;
            d.state |= STATE_SYSTEM_READONLY;
            break;
        case Kind::kNone:
            break;
    }
    if (!c.IsVisible()) d.state |= STATE_SYSTEM_INVISIBLE;
    if (!windowEnabled || !c.IsEnabled()) d.state |= STATE_SYSTEM_UNAVAILABLE;
    if (usable && (c.GetControlFlags() & UIFLAG_TABSTOP)) d.state |= STATE_SYSTEM_FOCUSABLE;
    if (c.IsFocused()) d.state |= STATE_SYSTEM_FOCUSED;
    if (!usable) d.defaultAction.clear();
    return d;
}
