#pragma once
// CButtonUI: a label that reacts to the mouse with state images (normal, hot,
// pushed, focused, disabled) and raises "click" when it is released over
// itself. Keyboard handling is off by default (no tab stop, keys ignored);
// with "keyboard" on it is a tab stop and Space and Enter activate it too
// (an option: Space only). With "fadeeffect" the
// hot image fades in over the normal one in 20 ms steps.
//
// Threads: UI thread of the owning window only.

#include "ui/Label.h"

// Button state bits.
enum : UINT {
    UISTATE_FOCUSED = 0x01,
    UISTATE_SELECTED = 0x02,
    UISTATE_DISABLED = 0x04,
    UISTATE_HOT = 0x08,
    UISTATE_PUSHED = 0x10,
    UISTATE_CAPTURED = 0x40,
};

class CButtonUI : public CLabelUI {
public:
    CButtonUI();

    const wchar_t* ClassName() const override { return L"ButtonUI"; }
    void* AsInterface(const wchar_t* name) override;
    // Tab stop while keyboard handling is on; the hand cursor while enabled.
    UINT GetControlFlags() const override;

    bool Activate() override;
    void SetEnabled(bool enabled = true) override;
    void HandleEvent(TEventUI& event) override;
    void SetProperty(const wchar_t* name, const wchar_t* value) override;
    void PaintText(HDC dc) override;
    void PaintStatusImage(HDC dc) override;

    UINT GetState() const { return state_; }
    const std::wstring& GetNormalImage() const { return normalImage_; }
    void SetNormalImage(const std::wstring& image);
    const std::wstring& GetHotImage() const { return hotImage_; }
    void SetHotImage(const std::wstring& image);
    const std::wstring& GetPushedImage() const { return pushedImage_; }
    void SetPushedImage(const std::wstring& image);
    void SetFocusedImage(const std::wstring& image);
    void SetDisabledImage(const std::wstring& image);
    void SetHotForeImage(const std::wstring& image);
    void SetFadeEffect(bool on) { fadeEffect_ = on; }

protected:
    // Draws `image` (clearing it when it cannot be drawn); false when nothing
    // was drawn so the caller can fall back to the normal image.
    bool DrawStateImage(HDC dc, std::wstring& image, const wchar_t* modifier = nullptr);
    void PaintButtonImages(HDC dc);
    void PaintForeImages(HDC dc, const std::wstring& fore);

    UINT state_ = 0;
    std::wstring normalImage_, hotImage_, pushedImage_, focusedImage_, disabledImage_;
    std::wstring hotForeImage_;
    DWORD hotBkColor_ = 0, hotTextColor_ = 0, pushedTextColor_ = 0, focusedTextColor_ = 0;
    int hotFont_ = -1, pushedFont_ = -1, focusedFont_ = -1;
    bool fadeEffect_ = false;
    // Opacity of the hot image while fading (0..255).
    int fade_ = 0;
    bool fadingIn_ = false;
};
