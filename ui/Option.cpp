#include "ui/Option.h"

#include <cwchar>

#include "ui/PaintHost.h"
#include "ui/Render.h"
#include "ui/UIAttr.h"

COptionUI::COptionUI() = default;

COptionUI::~COptionUI() {
    if (manager_ && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
}

void* COptionUI::AsInterface(const wchar_t* name) {
    if (name && wcscmp(name, L"Option") == 0) return this;
    return CButtonUI::AsInterface(name);
}

void COptionUI::Attach(CPaintHostUI* manager, CControlUI* parent, bool init) {
    CButtonUI::Attach(manager, parent, init);
    if (init && manager_ && !group_.empty()) manager_->AddOptionGroup(group_, this);
}

void COptionUI::SetGroup(const std::wstring& group) {
    if (group == group_) return;
    if (manager_ && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
    group_ = group;
    if (manager_ && !group_.empty()) manager_->AddOptionGroup(group_, this);
}

void COptionUI::Selected(bool selected) {
    if (selected_ == selected) return;
    selected_ = selected;
    if (selected_)
        state_ |= UISTATE_SELECTED;
    else
        state_ &= ~static_cast<UINT>(UISTATE_SELECTED);
    if (manager_) {
        if (group_.empty()) {
            manager_->RaiseNotification(this, L"selectchanged");
        } else if (selected_) {
            // A copy: handlers of the other options may change the group.
            const std::vector<CControlUI*>* members = manager_->GetOptionGroup(group_);
            const std::vector<CControlUI*> others = members ? *members : std::vector<CControlUI*>();
            for (CControlUI* c : others) {
                auto* option = static_cast<COptionUI*>(c->AsInterface(L"Option"));
                if (option && option != this) option->Selected(false);
            }
            manager_->RaiseNotification(this, L"selectchanged");
        }
        manager_->NotifyAccessible(this, EVENT_OBJECT_STATECHANGE);
    }
    Redraw();
}

bool COptionUI::Activate() {
    if (!CButtonUI::Activate()) return false;
    if (!group_.empty())
        Selected(true);
    else
        Selected(!selected_);
    return true;
}

void COptionUI::SetEnabled(bool enabled) {
    CButtonUI::SetEnabled(enabled);
    if (!enabled) state_ = selected_ ? static_cast<UINT>(UISTATE_SELECTED) : 0u;
}

void COptionUI::SetSelectedImage(const std::wstring& image) {
    selectedImage_ = image;
    Redraw();
}

void COptionUI::SetSelectedHotImage(const std::wstring& image) {
    selectedHotImage_ = image;
    Redraw();
}

void COptionUI::SetProperty(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    const std::wstring n(name);
    if (n == L"group") {
        SetGroup(value);
    } else if (n == L"selected") {
        Selected(uiattr::ParseBool(value));
    } else if (n == L"selectedimage") {
        SetSelectedImage(value);
    } else if (n == L"selectedhotimage") {
        SetSelectedHotImage(value);
    } else if (n == L"selectedbkcolor") {
        selectedBkColor_ = uiattr::ParseColor(value);
        Redraw();
    } else if (n == L"selectedtextcolor") {
        selectedTextColor_ = uiattr::ParseColor(value);
        Redraw();
    } else if (n == L"selectedfont") {
        selectedFont_ = uiattr::ParseInt(value);
        Redraw();
    } else {
        CButtonUI::SetProperty(name, value);
    }
}

void COptionUI::PaintStatusImage(HDC dc) {
    // An option shows no pressed look; the pushed bit only tracks the click.
    const UINT saved = state_;
    state_ &= ~static_cast<UINT>(UISTATE_PUSHED);
    bool drawn = false;
    if ((state_ & UISTATE_HOT) && selected_ && !selectedHotImage_.empty())
        drawn = DrawStateImage(dc, selectedHotImage_);
    if (!drawn && selected_) {
        drawn = DrawStateImage(dc, selectedImage_);
        if (!drawn && selectedBkColor_ != 0) {
            render::DrawColor(dc, paintRect_, AdjustedColor(selectedBkColor_));
            drawn = true;
        }
    }
    if (!drawn) PaintButtonImages(dc);
    PaintForeImages(dc, foreImage_);
    state_ = (saved & UISTATE_PUSHED) | (state_ & ~static_cast<UINT>(UISTATE_PUSHED));
}

void COptionUI::PaintText(HDC dc) {
    if (!selected_ || (selectedTextColor_ == 0 && selectedFont_ == -1) || !IsEnabled()) {
        CButtonUI::PaintText(dc);
        return;
    }
    const DWORD color = selectedTextColor_ ? selectedTextColor_
                        : textColor_       ? textColor_
                                           : (manager_ ? manager_->GetDefaultFontColor() : 0xFF000000);
    DrawLabelText(dc, text_, color, selectedFont_ != -1 ? selectedFont_ : font_);
}
