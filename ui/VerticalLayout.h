#pragma once
// CVerticalLayoutUI: stacks its children top to bottom. Children with a fixed
// height keep it (clamped to their min/max); the others share the free height,
// the last of them taking the rounding remainder.
//
// Threads: UI thread only.

#include "ui/Container.h"

class CVerticalLayoutUI : public CContainerUI {
public:
    const wchar_t* ClassName() const override { return L"VerticalLayoutUI"; }
    void* AsInterface(const wchar_t* name) override;
    UINT GetControlFlags() const override;
    void SetPosition(const RECT& rc) override;
    void SetProperty(const wchar_t* name, const wchar_t* value) override;

    int GetSepHeight() const { return sepHeight_; }
    void SetSepHeight(int height) { sepHeight_ = height; }
    bool IsSepImmediate() const { return sepImmediate_; }
    void SetSepImmediate(bool on) { sepImmediate_ = on; }

private:
    int sepHeight_ = 0;
    bool sepImmediate_ = false;
};
