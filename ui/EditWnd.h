#pragma once
// CEditWnd: the native edit window ("EditWnd", built on the platform's "Edit"
// class) that a CEditUI places over itself while it has the focus. Losing the
// focus closes it; its change notifications (reflected by the paint manager)
// are copied back into the owning control.
//
// Threads: UI thread of the owning window.
// Ownership: the object deletes itself when its window is destroyed. The
// owning CEditUI is not owned; a control that dies first calls Detach.

#include "ui/WindowWnd.h"

class CEditUI;

class CEditWnd : public CWindowWnd {
public:
    // Creates the window over `owner` and gives it the focus; null when the
    // window cannot be made.
    static CEditWnd* Open(CEditUI* owner);
    // Where the window goes: the owner's text area, narrowed vertically to
    // one line of its font when that fits.
    RECT CalcPos() const;
    void Detach() { owner_ = nullptr; }

    const wchar_t* WindowClassName() const override { return L"EditWnd"; }
    const wchar_t* SuperclassName() const override { return L"Edit"; }
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnWindowDestroyed(HWND hwnd) override;

private:
    CEditWnd() = default;
    ~CEditWnd() override;

    CEditUI* owner_ = nullptr;
    HBRUSH brush_ = nullptr;
    bool ready_ = false;
};
