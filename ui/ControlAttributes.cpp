// The markup attributes every control understands, mapped onto its setters.
// Subclasses handle their own names first and pass the rest here.
#include "ui/Control.h"

#include <cwchar>

#include "ui/UIAttr.h"

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
    } else if (n == L"accname") {
        accName_ = value;
    } else if (n == L"accrole") {
        accRole_ = value;
    }
}

void CControlUI::ApplyAttributeList(const wchar_t* list) {
    for (const auto& kv : uiattr::ParseAttributeList(list)) SetProperty(kv.first.c_str(), kv.second.c_str());
}
