#pragma once
// CHorizontalLayoutUI: stacks its children left to right; the mirror image of
// CVerticalLayoutUI along x.
//
// Threads: UI thread only.

#include "ui/Container.h"

class CHorizontalLayoutUI : public CContainerUI {
public:
    const wchar_t* ClassName() const override { return L"HorizontalLayoutUI"; }
    void* AsInterface(const wchar_t* name) override;
    UINT GetControlFlags() const override;
    void SetPosition(const RECT& rc) override;
    void SetProperty(const wchar_t* name, const wchar_t* value) override;

    int GetSepWidth() const { return sepWidth_; }
    void SetSepWidth(int width) { sepWidth_ = width; }
    bool IsSepImmediate() const { return sepImmediate_; }
    void SetSepImmediate(bool on) { sepImmediate_ = on; }

private:
    int sepWidth_ = 0;
    bool sepImmediate_ = false;
};
