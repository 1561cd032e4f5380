#pragma once
// CTabLayoutUI: shows exactly one of its children (the selected page) over its
// inner rectangle; the others are hidden. Select() switches pages and sends
// "tabselect" with the new and the old index.
//
// Threads: UI thread only.

#include "ui/Container.h"

class CTabLayoutUI : public CContainerUI {
public:
    const wchar_t* ClassName() const override { return L"TabLayoutUI"; }
    void* AsInterface(const wchar_t* name) override;

    bool Add(CControlUI* control) override;
    bool AddAt(CControlUI* control, int index) override;
    bool Remove(CControlUI* control) override;
    bool RemoveAt(int index) override;
    void RemoveAll() override;

    int GetCurSel() const { return curSel_; }
    // False for an index outside the pages; true without effect for the
    // current page.
    bool Select(int index);

    void SetPosition(const RECT& rc) override;
    void SetProperty(const wchar_t* name, const wchar_t* value) override;

private:
    int curSel_ = -1;
};
