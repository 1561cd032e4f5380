#pragma once
// The installer's small skinned message box ("MessageBox.xml"): one message,
// an optional title, "确定" and "取消". Used modally for the exit confirmation
// and the agreement warning, and modelessly for the failure notice.
//
// Results: 1 confirmed (btn_ok, or Escape while modal), 2 cancelled
// (btn_cancel, btn_close, Alt+F4), 0 when the window went away without a
// close request. Tab moves between its two buttons; Space and Enter press
// the focused one.
//
// Ownership: always created with new; the object deletes itself when its
// window is destroyed, so a caller must not touch it after RunModal returns
// (nor after a modeless box was shown).
// Threads: UI thread.

#include <string>

#include "ui/WindowImplBase.h"

class CMsgBoxDlg : public WindowImplBase {
public:
    enum { kConfirmed = 1, kCancelled = 2 };

    CMsgBoxDlg(const std::wstring& message, const std::wstring& title);

    const wchar_t* WindowClassName() const override { return L"orvelim"; }
    std::wstring SkinFolder() override { return std::wstring(); }
    std::wstring SkinFile() override { return L"MessageBox.xml"; }

    void PrepareWindow() override;
    void Notify(TNotifyRecord& msg) override;
    void OnWindowDestroyed(HWND hwnd) override;
    LRESULT OnSysCommand(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

    // Creates the box over `parent` (caption `caption`, style WS_POPUP, size
    // from the skin), centres and shows it with focus. Null when the window
    // could not be created (the object is then gone already).
    static CMsgBoxDlg* Open(HWND parent, const std::wstring& message, const std::wstring& title,
                            const wchar_t* caption);
    // Open, then RunModal: the box's result (0 when it could not be shown).
    static UINT ShowModal(HWND parent, const std::wstring& message, const std::wstring& title,
                          const wchar_t* caption);

    // Replaces the message of an open box.
    void SetMessage(const std::wstring& message);
    const std::wstring& Message() const { return message_; }
    // `slot` (when not null) is cleared when the box goes away, so an owner
    // can keep a pointer to a modeless box. Null stops that.
    void TrackIn(CMsgBoxDlg** slot) { slot_ = slot; }

private:
    ~CMsgBoxDlg() override = default;  // only through OnWindowDestroyed
    // Tells screen readers that the box (its text) appeared.
    void Announce();

    CControlUI* cancelButton_ = nullptr;
    CControlUI* okButton_ = nullptr;
    CControlUI* closeButton_ = nullptr;
    CControlUI* titleLabel_ = nullptr;
    CControlUI* textLabel_ = nullptr;
    std::wstring message_;
    std::wstring title_;
    bool* deleted_ = nullptr;  // set while Open creates the window
    CMsgBoxDlg** slot_ = nullptr;
};
