#pragma once
// CContainerUI: a control with an ordered list of children laid out inside an
// inset. The plain container gives every non-floating child its whole inner
// rectangle (they overlap); floating children are placed by their "pos"
// offsets and optional relative placement.
//
// Threads: UI thread only.
// Ownership: a container owns its children when autoDestroy is set (the
// default) and deletes them on removal or with itself, through the paint
// manager's delayed cleanup when delayedDestroy is set and a manager exists.

#include <vector>

#include "ui/Control.h"

// Item-list interface answered by AsInterface(L"IContainer").
class IContainerUI {
public:
    virtual CControlUI* GetItemAt(int index) const = 0;
    virtual int GetItemIndex(CControlUI* control) const = 0;
    virtual int GetCount() const = 0;
    virtual bool Add(CControlUI* control) = 0;
    virtual bool AddAt(CControlUI* control, int index) = 0;
    virtual bool Remove(CControlUI* control) = 0;
    virtual bool RemoveAt(int index) = 0;
    virtual void RemoveAll() = 0;

protected:
    ~IContainerUI() = default;
};

class CContainerUI : public CControlUI, public IContainerUI {
public:
    CContainerUI();
    ~CContainerUI() override;

    const wchar_t* ClassName() const override { return L"ContainerUI"; }
    void* AsInterface(const wchar_t* name) override;

    CControlUI* GetItemAt(int index) const override;
    int GetItemIndex(CControlUI* control) const override;
    int GetCount() const override { return static_cast<int>(items_.size()); }
    bool Add(CControlUI* control) override;
    bool AddAt(CControlUI* control, int index) override;
    bool Remove(CControlUI* control) override;
    bool RemoveAt(int index) override;
    void RemoveAll() override;

    virtual RECT GetInset() const { return inset_; }
    virtual void SetInset(const RECT& inset);
    virtual int GetChildPadding() const { return childPadding_; }
    virtual void SetChildPadding(int padding);
    virtual bool IsAutoDestroy() const { return autoDestroy_; }
    virtual void SetAutoDestroy(bool on) { autoDestroy_ = on; }
    virtual bool IsDelayedDestroy() const { return delayedDestroy_; }
    virtual void SetDelayedDestroy(bool on) { delayedDestroy_ = on; }
    virtual bool IsMouseChildEnabled() const { return mouseChildEnabled_; }
    virtual void SetMouseChildEnabled(bool on) { mouseChildEnabled_ = on; }
    // Places floating child `index` from its offset, size and relative
    // placement against this container's bounds.
    virtual void PlaceFloatChild(int index);

    void Attach(CPaintHostUI* manager, CControlUI* parent, bool init = true) override;
    void SetVisible(bool visible = true) override;
    void SetParentVisible(bool visible) override;
    CControlUI* Lookup(FindControlProc visitor, void* data, UINT flags) override;
    void SetPosition(const RECT& rc) override;
    void SetProperty(const wchar_t* name, const wchar_t* value) override;
    void Paint(HDC dc, const RECT& paint) override;

protected:
    // bounds minus inset.
    RECT ContentBox() const;
    void DestroyChild(CControlUI* control);

    std::vector<CControlUI*> items_;
    RECT inset_ = {0, 0, 0, 0};
    int childPadding_ = 0;
    bool autoDestroy_ = true;
    bool delayedDestroy_ = true;
    bool mouseChildEnabled_ = true;
};
