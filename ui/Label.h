#pragma once
// CLabelUI: a control that draws its text in a font, colour and alignment of
// its own, optionally through the HTML-like text renderer (HtmlText.h). It is
// the base of the button, option, edit and progress controls.
//
// Threads: UI thread of the owning window only.
// Ownership: as CControlUI; fonts belong to the paint manager.

#include "ui/Control.h"

// Applies the words of an "align" value to a DrawText style. The words are
// searched as substrings, so "vcenter" also applies "center" and "vleft" also
// applies "left" (the skins rely on the resulting bits).
UINT ApplyAlignWords(UINT style, const wchar_t* value);

// Text-effect settings: not used by the skins. When the effect switch is on,
// a shadow and/or a stroke are drawn with GDI under the text; the gradient
// fields are kept for the builder but the text itself stays one colour.
struct TLabelEffect {
    bool enabled = false;
    int rhaa = 0;  // rendering hint 0..5, kept
    bool transShadow = false, transText = false, transShadow1 = false, transText1 = false;
    int gradientAngle = 0;
    int gradientLength = 0;
    bool stroke = false;
    bool shadow = false;
    bool transStroke = false;
    POINT shadowOffset = {0, 0};
    DWORD textColor1 = 0;
    DWORD shadowColorA = 0xBB000000;
    DWORD shadowColorB = 0xFFFFFFFF;
    DWORD strokeColor = 0;
};

class CLabelUI : public CControlUI {
public:
    CLabelUI();

    const wchar_t* ClassName() const override { return L"LabelUI"; }
    void* AsInterface(const wchar_t* name) override;

    void SetTextStyle(UINT style);
    UINT GetTextStyle() const { return textStyle_; }
    void SetTextColor(DWORD color);
    DWORD GetTextColor() const { return textColor_; }
    void SetDisabledTextColor(DWORD color);
    DWORD GetDisabledTextColor() const { return disabledTextColor_; }
    void SetFont(int index);
    int GetFont() const { return font_; }
    void SetTextPadding(const RECT& rc);
    RECT GetTextPadding() const { return textPadding_; }
    void SetShowHtml(bool show);
    bool IsShowHtml() const { return showHtml_; }
    const TLabelEffect& GetEffect() const { return effect_; }

    void SetProperty(const wchar_t* name, const wchar_t* value) override;
    void PaintText(HDC dc) override;

    // The text rectangle: bounds shrunk by the text padding (window pixels).
    RECT TextRect() const;

protected:
    // Draws `text` in the label's manner with the given colour and font.
    void DrawLabelText(HDC dc, const std::wstring& text, DWORD color, int font);

    DWORD textColor_ = 0;
    DWORD disabledTextColor_ = 0;
    int font_ = -1;
    UINT textStyle_ = DT_VCENTER;
    RECT textPadding_ = {0, 0, 0, 0};
    bool showHtml_ = false;
    TLabelEffect effect_;
};
