#pragma once
// COptionUI: a button that can be selected. Options sharing a group name in
// one paint manager behave like radio buttons (selecting one deselects the
// others); an option without a group toggles like a check box. Selection
// changes raise "selectchanged" (deselection inside a group raises nothing,
// so a group reports each change once, from the newly selected option).
//
// Threads: UI thread of the owning window only.
// Ownership: group registration lives in the paint manager, which forgets an
// option when it is destroyed.

#include "ui/Button.h"

class COptionUI : public CButtonUI {
public:
    COptionUI();
    ~COptionUI() override;

    const wchar_t* ClassName() const override { return L"OptionUI"; }
    void* AsInterface(const wchar_t* name) override;
    void Attach(CPaintHostUI* manager, CControlUI* parent, bool init = true) override;

    bool Activate() override;
    void SetEnabled(bool enabled = true) override;
    void SetProperty(const wchar_t* name, const wchar_t* value) override;
    void PaintStatusImage(HDC dc) override;
    void PaintText(HDC dc) override;

    const std::wstring& GetGroup() const { return group_; }
    void SetGroup(const std::wstring& group);
    bool IsSelected() const { return selected_; }
    void Selected(bool selected);

    void SetSelectedImage(const std::wstring& image);
    void SetSelectedHotImage(const std::wstring& image);

private:
    std::wstring group_;
    bool selected_ = false;
    std::wstring selectedImage_, selectedHotImage_;
    DWORD selectedBkColor_ = 0;
    DWORD selectedTextColor_ = 0;
    int selectedFont_ = -1;
};
