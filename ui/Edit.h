#pragma once
// CEditUI: a single-line text field. It paints like a label (with state
// images) and, while it has the focus, places a native edit window
// (CEditWnd, EditWnd.h) over its text area for the actual typing. Changes
// typed there are copied back into the control's text and raise
// "textchanged"; Enter raises "return".
//
// Threads: UI thread of the owning window only.
// Ownership: the native window object deletes itself when its window is
// destroyed (it loses the focus); the control only points at it.

#include "ui/Label.h"

class CEditWnd;

class CEditUI : public CLabelUI {
public:
    CEditUI();
    ~CEditUI() override;

    const wchar_t* ClassName() const override { return L"EditUI"; }
    void* AsInterface(const wchar_t* name) override;
    // Tab stop and the I-beam cursor while enabled.
    UINT GetControlFlags() const override;

    void SetText(const std::wstring& text) override;
    void SetEnabled(bool enabled = true) override;
    void SetVisible(bool visible = true) override;
    void SetPosition(const RECT& rc) override;
    void HandleEvent(TEventUI& event) override;
    void SetProperty(const wchar_t* name, const wchar_t* value) override;
    void PaintStatusImage(HDC dc) override;
    void PaintText(HDC dc) override;

    int GetMaxChar() const { return maxChar_; }
    void SetMaxChar(int count);
    bool IsReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);
    bool IsPassword() const { return password_; }
    void SetPassword(bool password);
    wchar_t GetPasswordChar() const { return passwordChar_; }
    void SetNumberOnly(bool numberOnly);
    DWORD GetAddedStyle() const { return addedStyle_; }
    DWORD GetNativeTextColor() const { return nativeColor_; }
    DWORD GetNativeBkColor() const { return nativeBkColor_; }
    const std::wstring& GetHintText() const { return hintText_; }
    DWORD GetHintColor() const { return hintColor_; }
    // The native window while one exists (tests, the window controller).
    HWND GetNativeWindow() const;
    // The colour the native window writes its text in.
    DWORD EffectiveTextColor() const;

    // Called by the native window.
    void OnNativeTextChanged(const std::wstring& text);
    void OnNativeReturn();
    void OnNativeWindowGone();

private:
    void CreateNativeWindow();

    CEditWnd* native_ = nullptr;
    UINT state_ = 0;
    int maxChar_ = 255;
    bool readOnly_ = false;
    bool password_ = false;
    wchar_t passwordChar_ = L'*';
    DWORD addedStyle_ = 0;
    std::wstring normalImage_, hotImage_, focusedImage_, disabledImage_;
    DWORD nativeColor_ = 0;
    DWORD nativeBkColor_ = 0xFFFFFFFF;
    std::wstring hintText_;
    DWORD hintColor_ = 0xFFBBBBBB;
};
