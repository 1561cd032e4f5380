#include "ui/Edit.h"

#include <cwchar>

#include "ui/EditWnd.h"
#include "ui/PaintHost.h"
#include "ui/Render.h"
#include "ui/UIAttr.h"

namespace {
const UINT kStateHot = 0x08;
}

CEditUI::CEditUI() { textPadding_ = RECT{4, 3, 4, 3}; }

CEditUI::~CEditUI() {
    if (native_) {
        CEditWnd* wnd = native_;
        native_ = nullptr;
        wnd->Detach();
        if (wnd->GetHWND()) DestroyWindow(wnd->GetHWND());  // the object deletes itself
    }
}

void* CEditUI::AsInterface(const wchar_t* name) {
    if (name && wcscmp(name, L"Edit") == 0) return this;
    return CLabelUI::AsInterface(name);
}

UINT CEditUI::GetControlFlags() const { return IsEnabled() ? (UIFLAG_SETCURSOR | UIFLAG_TABSTOP) : 0u; }

HWND CEditUI::GetNativeWindow() const { return native_ ? native_->GetHWND() : nullptr; }

DWORD CEditUI::EffectiveTextColor() const {
    if (nativeColor_) return nativeColor_;
    if (textColor_) return textColor_;
    return manager_ ? manager_->GetDefaultFontColor() : 0xFF000000;
}

void CEditUI::CreateNativeWindow() {
    if (native_) return;
    native_ = CEditWnd::Open(this);
    Redraw();
}

void CEditUI::SetText(const std::wstring& text) {
    if (text_ != text) {
        text_ = text;
        Redraw();
    }
    if (native_ && native_->GetHWND()) {
        SetWindowTextW(native_->GetHWND(), text_.c_str());  // reports the change itself
        return;
    }
    if (manager_) manager_->RaiseNotification(this, L"textchanged");
}

void CEditUI::OnNativeTextChanged(const std::wstring& text) {
    if (text_ != text) {
        text_ = text;
        Redraw();
    }
    if (manager_) manager_->RaiseNotification(this, L"textchanged");
}

void CEditUI::OnNativeReturn() {
    if (manager_) manager_->RaiseNotification(this, L"return");
}

void CEditUI::OnNativeWindowGone() {
    native_ = nullptr;
    Redraw();
}

void CEditUI::SetEnabled(bool enabled) {
    CLabelUI::SetEnabled(enabled);
    if (!enabled) state_ = 0;
    if (native_ && native_->GetHWND()) EnableWindow(native_->GetHWND(), enabled ? TRUE : FALSE);
}

void CEditUI::SetVisible(bool visible) {
    CLabelUI::SetVisible(visible);
    // A hidden field must not leave its typing window showing.
    if (!visible && native_ && native_->GetHWND()) PostMessageW(native_->GetHWND(), WM_CLOSE, 0, 0);
}

void CEditUI::SetPosition(const RECT& rc) {
    CLabelUI::SetPosition(rc);
    if (native_ && native_->GetHWND()) {
        // A new scale brings a font of the new height with it.
        if (manager_)
            SendMessageW(native_->GetHWND(), WM_SETFONT, reinterpret_cast<WPARAM>(manager_->GetFont(font_)), FALSE);
        const RECT pos = native_->CalcPos();
        SetWindowPos(native_->GetHWND(), nullptr, pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CEditUI::SetMaxChar(int count) {
    maxChar_ = count;
    if (native_ && native_->GetHWND()) SendMessageW(native_->GetHWND(), EM_LIMITTEXT, static_cast<WPARAM>(count), 0);
}

void CEditUI::SetReadOnly(bool readOnly) {
    if (readOnly_ == readOnly) return;
    readOnly_ = readOnly;
    if (native_ && native_->GetHWND()) SendMessageW(native_->GetHWND(), EM_SETREADONLY, readOnly ? TRUE : FALSE, 0);
    Redraw();
}

void CEditUI::SetPassword(bool password) {
    if (password_ == password) return;
    password_ = password;
    Redraw();
}

void CEditUI::SetNumberOnly(bool numberOnly) {
    if (numberOnly)
        addedStyle_ |= ES_NUMBER;
    else
        addedStyle_ &= ~static_cast<DWORD>(ES_NUMBER);
}

void CEditUI::HandleEvent(TEventUI& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (parent_)
            parent_->HandleEvent(event);
        else
            CLabelUI::HandleEvent(event);
        return;
    }
    switch (event.type) {
        case UIEVENT_SETCURSOR:
            if (IsEnabled()) {
                ::SetCursor(LoadCursorW(nullptr, IDC_IBEAM));
                return;
            }
            break;
        case UIEVENT_WINDOWSIZE:
            if (native_ && native_->GetHWND()) {
                const RECT pos = native_->CalcPos();
                SetWindowPos(native_->GetHWND(), nullptr, pos.left, pos.top, pos.right - pos.left,
                             pos.bottom - pos.top, SWP_NOZORDER | SWP_NOACTIVATE);
            }
            return;
        case UIEVENT_SCROLLWHEEL:
            if (native_) return;
            break;
        case UIEVENT_SETFOCUS:
            CLabelUI::HandleEvent(event);
            if (IsEnabled() && !native_) CreateNativeWindow();
            return;
        case UIEVENT_KILLFOCUS:
            CLabelUI::HandleEvent(event);
            return;
        case UIEVENT_BUTTONDOWN:
        case UIEVENT_DBLCLICK:
        case UIEVENT_RBUTTONDOWN:
            if (IsEnabled() && PtInRect(&bounds_, event.ptMouse)) {
                if (manager_) manager_->ReleaseCapture();
                if (IsFocused() && !native_) CreateNativeWindow();
                if (native_ && native_->GetHWND()) {
                    // The press itself may have pulled the focus back to the
                    // window after the native window took it.
                    if (::GetFocus() != native_->GetHWND()) ::SetFocus(native_->GetHWND());
                    int n = GetWindowTextLengthW(native_->GetHWND());
                    if (n == 0) n = 1;
                    SendMessageW(native_->GetHWND(), EM_SETSEL, 0, n);
                }
            }
            return;
        case UIEVENT_MOUSEMOVE:
        case UIEVENT_BUTTONUP:
        case UIEVENT_CONTEXTMENU:
            return;
        case UIEVENT_MOUSEENTER:
            if (IsEnabled()) {
                state_ |= kStateHot;
                Redraw();
            }
            return;
        case UIEVENT_MOUSELEAVE:
            if (IsEnabled()) {
                state_ &= ~kStateHot;
                Redraw();
            }
            return;
        default:
            break;
    }
    CLabelUI::HandleEvent(event);
}

void CEditUI::SetProperty(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    const std::wstring n(name);
    if (n == L"readonly")
        SetReadOnly(uiattr::ParseBool(value));
    else if (n == L"numberonly")
        SetNumberOnly(uiattr::ParseBool(value));
    else if (n == L"password")
        SetPassword(uiattr::ParseBool(value));
    else if (n == L"maxchar")
        SetMaxChar(uiattr::ParseInt(value));
    else if (n == L"normalimage")
        normalImage_ = value, Redraw();
    else if (n == L"hotimage")
        hotImage_ = value, Redraw();
    else if (n == L"focusedimage")
        focusedImage_ = value, Redraw();
    else if (n == L"disabledimage")
        disabledImage_ = value, Redraw();
    else if (n == L"hinttext")
        hintText_ = value;
    else if (n == L"hintcolor")
        hintColor_ = uiattr::ParseColor(value);
    else if (n == L"nativecolor")
        nativeColor_ = uiattr::ParseColor(value);
    else if (n == L"nativebkcolor")
        nativeBkColor_ = uiattr::ParseColor(value);
    else
        CLabelUI::SetProperty(name, value);
}

void CEditUI::PaintStatusImage(HDC dc) {
    std::wstring* image = nullptr;
    if (!IsEnabled())
        image = &disabledImage_;
    else if (IsFocused())
        image = &focusedImage_;
    else if (state_ & kStateHot)
        image = &hotImage_;
    if (image && !image->empty()) {
        if (DrawImage(dc, *image)) return;
        image->clear();
    }
    if (!normalImage_.empty() && !DrawImage(dc, normalImage_)) normalImage_.clear();
}

void CEditUI::PaintText(HDC dc) {
    // While the native window is up it shows the text itself.
    if (native_ || text_.empty()) return;
    const DWORD color = IsEnabled() ? (textColor_ ? textColor_ : (manager_ ? manager_->GetDefaultFontColor() : 0xFF000000))
                        : disabledTextColor_ ? disabledTextColor_
                                             : (manager_ ? manager_->GetDefaultDisabledColor() : 0xFFA7A6AA);
    const std::wstring shown = password_ ? std::wstring(text_.size(), passwordChar_) : text_;
    RECT rc = TextRect();
    render::DrawPlainText(dc, rc, shown.c_str(), color, manager_ ? manager_->GetFont(font_) : nullptr,
                          textStyle_ | DT_SINGLELINE);
}
