#include "ui/Button.h"

#include <cwchar>

#include "Runtime/TextUtil.h"
#include "ui/PaintHost.h"
#include "ui/Render.h"
#include "ui/UIAttr.h"

namespace {
const UINT kFadeTimer = 0x0F;
const UINT kFadeStepMs = 20;
const int kFadeStep = 25;  // about ten steps from normal to hot
}  // namespace

CButtonUI::CButtonUI() {
    textStyle_ = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
    // Keys are off unless a skin asks for them ("keyboard"): a button that a
    // click or the first paint left focused would otherwise take Enter and
    // Space, and a message box would confirm on Enter.
    SetKeyboardEnabled(false);
}

void* CButtonUI::AsInterface(const wchar_t* name) {
    if (name && wcscmp(name, L"Button") == 0) return this;
    return CLabelUI::AsInterface(name);
}

UINT CButtonUI::GetControlFlags() const {
    return (IsKeyboardEnabled() ? UIFLAG_TABSTOP : 0u) | (IsEnabled() ? UIFLAG_SETCURSOR : 0u);
}

bool CButtonUI::Activate() {
    if (!CLabelUI::Activate()) return false;
    if (manager_) manager_->RaiseNotification(this, L"click");
    return true;
}

void CButtonUI::SetEnabled(bool enabled) {
    CLabelUI::SetEnabled(enabled);
    if (!enabled) {
        state_ = 0;
        fade_ = 0;
        if (manager_) manager_->KillTimer(this, kFadeTimer);
    }
}

void CButtonUI::HandleEvent(TEventUI& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (parent_)
            parent_->HandleEvent(event);
        else
            CLabelUI::HandleEvent(event);
        return;
    }
    const bool inside = PtInRect(&bounds_, event.ptMouse) != FALSE;
    switch (event.type) {
        case UIEVENT_SETFOCUS:
        case UIEVENT_KILLFOCUS:
            CLabelUI::HandleEvent(event);  // keeps the focused flag, redraws
            return;
        case UIEVENT_KEYDOWN:
            if (IsKeyboardEnabled() && (event.key == VK_SPACE || event.key == VK_RETURN)) {
                // A held key acts once; its repeats would click again and again.
                // An option is toggled by Space only, as a check box is.
                const bool repeat = (event.lParam & 0x40000000) != 0;
                if (!repeat && (event.key == VK_SPACE || !AsInterface(L"Option"))) Activate();
                return;
            }
            break;
        case UIEVENT_BUTTONDOWN:
        case UIEVENT_DBLCLICK:
            if (inside && IsEnabled()) {
                state_ |= UISTATE_PUSHED | UISTATE_CAPTURED;
                Redraw();
            }
            return;
        case UIEVENT_MOUSEMOVE:
            if (state_ & UISTATE_CAPTURED) {
                if (inside)
                    state_ |= UISTATE_PUSHED;
                else
                    state_ &= ~static_cast<UINT>(UISTATE_PUSHED);
                Redraw();
            }
            return;
        case UIEVENT_BUTTONUP:
            if (state_ & UISTATE_CAPTURED) {
                // The state is settled before "click": its handler may close
                // the window or remove this button.
                state_ &= ~static_cast<UINT>(UISTATE_PUSHED | UISTATE_CAPTURED);
                Redraw();
                if (inside) Activate();
            }
            return;
        case UIEVENT_MOUSEENTER:
            if (IsEnabled()) {
                state_ |= UISTATE_HOT;
                if (fadeEffect_ && !hotImage_.empty() && manager_) {
                    fadingIn_ = true;
                    manager_->SetTimer(this, kFadeTimer, kFadeStepMs);
                }
                Redraw();
            }
            return;
        case UIEVENT_MOUSELEAVE:
            if (IsEnabled()) {
                state_ &= ~static_cast<UINT>(UISTATE_HOT);
                if (fadeEffect_ && fade_ > 0 && manager_) {
                    fadingIn_ = false;
                    manager_->SetTimer(this, kFadeTimer, kFadeStepMs);
                }
                Redraw();
            }
            return;
        case UIEVENT_SETCURSOR:
            ::SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return;
        case UIEVENT_TIMER:
            if (event.wParam == kFadeTimer) {
                fade_ += fadingIn_ ? kFadeStep : -kFadeStep;
                if (fade_ >= 255 || fade_ <= 0) {
                    fade_ = fade_ >= 255 ? 255 : 0;
                    if (manager_) manager_->KillTimer(this, kFadeTimer);
                }
                Redraw();
                return;
            }
            break;
        default:
            break;
    }
    CLabelUI::HandleEvent(event);
}

void CButtonUI::SetNormalImage(const std::wstring& image) {
    normalImage_ = image;
    Redraw();
}
void CButtonUI::SetHotImage(const std::wstring& image) {
    hotImage_ = image;
    Redraw();
}
void CButtonUI::SetPushedImage(const std::wstring& image) {
    pushedImage_ = image;
    Redraw();
}
void CButtonUI::SetFocusedImage(const std::wstring& image) {
    focusedImage_ = image;
    Redraw();
}
void CButtonUI::SetDisabledImage(const std::wstring& image) {
    disabledImage_ = image;
    Redraw();
}
void CButtonUI::SetHotForeImage(const std::wstring& image) {
    hotForeImage_ = image;
    Redraw();
}

void CButtonUI::SetProperty(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    const std::wstring n(name);
    if (n == L"normalimage")
        SetNormalImage(value);
    else if (n == L"hotimage")
        SetHotImage(value);
    else if (n == L"pushedimage")
        SetPushedImage(value);
    else if (n == L"focusedimage")
        SetFocusedImage(value);
    else if (n == L"disabledimage")
        SetDisabledImage(value);
    else if (n == L"hotforeimage")
        SetHotForeImage(value);
    else if (n == L"hotbkcolor")
        hotBkColor_ = uiattr::ParseColor(value);
    else if (n == L"hottextcolor")
        hotTextColor_ = uiattr::ParseColor(value);
    else if (n == L"pushedtextcolor")
        pushedTextColor_ = uiattr::ParseColor(value);
    else if (n == L"focusedtextcolor")
        focusedTextColor_ = uiattr::ParseColor(value);
    else if (n == L"hotfont")
        hotFont_ = uiattr::ParseInt(value);
    else if (n == L"pushedfont")
        pushedFont_ = uiattr::ParseInt(value);
    else if (n == L"focusedfont")
        focusedFont_ = uiattr::ParseInt(value);
    else if (n == L"fadeeffect")
        fadeEffect_ = uiattr::ParseBool(value);
    else
        CLabelUI::SetProperty(name, value);
}

void CButtonUI::PaintText(HDC dc) {
    if (text_.empty()) return;
    if (IsFocused())
        state_ |= UISTATE_FOCUSED;
    else
        state_ &= ~static_cast<UINT>(UISTATE_FOCUSED);
    DWORD color;
    int font = font_;
    if (!IsEnabled()) {
        color = disabledTextColor_ ? disabledTextColor_ : (manager_ ? manager_->GetDefaultDisabledColor() : 0xFFA7A6AA);
    } else {
        color = textColor_ ? textColor_ : (manager_ ? manager_->GetDefaultFontColor() : 0xFF000000);
        if ((state_ & UISTATE_PUSHED) && pushedTextColor_)
            color = pushedTextColor_;
        else if ((state_ & UISTATE_HOT) && hotTextColor_)
            color = hotTextColor_;
        else if ((state_ & UISTATE_FOCUSED) && focusedTextColor_)
            color = focusedTextColor_;
        if ((state_ & UISTATE_PUSHED) && pushedFont_ != -1)
            font = pushedFont_;
        else if ((state_ & UISTATE_HOT) && hotFont_ != -1)
            font = hotFont_;
        else if ((state_ & UISTATE_FOCUSED) && focusedFont_ != -1)
            font = focusedFont_;
    }
    DrawLabelText(dc, text_, color, font);
}

bool CButtonUI::DrawStateImage(HDC dc, std::wstring& image, const wchar_t* modifier) {
    if (image.empty()) return false;
    if (DrawImage(dc, image, modifier)) return true;
    image.clear();  // not tried again on every paint
    return false;
}

void CButtonUI::PaintButtonImages(HDC dc) {
    if (IsFocused())
        state_ |= UISTATE_FOCUSED;
    else
        state_ &= ~static_cast<UINT>(UISTATE_FOCUSED);
    if (!IsEnabled())
        state_ |= UISTATE_DISABLED;
    else
        state_ &= ~static_cast<UINT>(UISTATE_DISABLED);

    if (state_ & UISTATE_DISABLED) {
        if (DrawStateImage(dc, disabledImage_)) return;
    } else if (state_ & UISTATE_PUSHED) {
        if (DrawStateImage(dc, pushedImage_)) return;
    } else if (fadeEffect_ && fade_ > 0 && fade_ < 255 && !hotImage_.empty()) {
        // Mid-fade: the hot image over the normal one at the fade opacity.
        DrawStateImage(dc, normalImage_);
        const std::wstring modifier = Format(L"fade='%d'", fade_);
        if (DrawStateImage(dc, hotImage_, modifier.c_str())) return;
    } else if (state_ & UISTATE_HOT) {
        if (DrawStateImage(dc, hotImage_)) return;
        if (hotImage_.empty() && hotBkColor_ != 0) {
            render::DrawColor(dc, paintRect_, AdjustedColor(hotBkColor_));
            return;
        }
    } else if (state_ & UISTATE_FOCUSED) {
        if (DrawStateImage(dc, focusedImage_)) return;
    }
    DrawStateImage(dc, normalImage_);
}

void CButtonUI::PaintForeImages(HDC dc, const std::wstring& fore) {
    if ((state_ & UISTATE_HOT) && !hotForeImage_.empty()) {
        DrawStateImage(dc, hotForeImage_);
        return;
    }
    if (fore.empty()) return;
    std::wstring copy = fore;
    if (!DrawStateImage(dc, copy)) {
        if (&fore == &foreImage_) foreImage_.clear();
    }
}

void CButtonUI::PaintStatusImage(HDC dc) {
    PaintButtonImages(dc);
    PaintForeImages(dc, foreImage_);
}
