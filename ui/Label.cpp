#include "ui/Label.h"

#include <cwchar>

#include "ui/HtmlText.h"
#include "ui/PaintHost.h"
#include "ui/Render.h"
#include "ui/UIAttr.h"

UINT ApplyAlignWords(UINT style, const wchar_t* value) {
    if (!value) return style;
    struct Word {
        const wchar_t* word;
        UINT clear;
        UINT set;
    };
    // Order matters: later words override earlier ones.
    static const Word kWords[] = {
        {L"left", 0x27, 0},          {L"center", 0x2, 0x1},     {L"right", 0x25, 0x2}, {L"top", 0xC, 0x20},
        {L"vcenter", 0x8, 0x25}, {L"bottom", 0x4, 0x28}, {L"vleft", 0x23, 0x4},
    };
    for (const Word& w : kWords) {
        if (wcsstr(value, w.word)) style = (style & ~w.clear) | w.set;
    }
    return style;
}

CLabelUI::CLabelUI() = default;

void* CLabelUI::AsInterface(const wchar_t* name) {
    if (name && wcscmp(name, L"Label") == 0) return this;
    return CControlUI::AsInterface(name);
}

void CLabelUI::SetTextStyle(UINT style) {
    textStyle_ = style;
    Redraw();
}

void CLabelUI::SetTextColor(DWORD color) {
    textColor_ = color;
    Redraw();
}

void CLabelUI::SetDisabledTextColor(DWORD color) {
    disabledTextColor_ = color;
    Redraw();
}

void CLabelUI::SetFont(int index) {
    font_ = index;
    Redraw();
}

void CLabelUI::SetTextPadding(const RECT& rc) {
    textPadding_ = rc;
    Redraw();
}

void CLabelUI::SetShowHtml(bool show) {
    if (showHtml_ == show) return;
    showHtml_ = show;
    Redraw();
}

void CLabelUI::SetProperty(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    const std::wstring n(name);
    if (n == L"align") {
        textStyle_ = ApplyAlignWords(textStyle_, value);
    } else if (n == L"endellipsis") {
        if (uiattr::ParseBool(value))
            textStyle_ |= DT_END_ELLIPSIS;
        else
            textStyle_ &= ~static_cast<UINT>(DT_END_ELLIPSIS);
    } else if (n == L"font") {
        SetFont(uiattr::ParseInt(value));
    } else if (n == L"textcolor") {
        SetTextColor(uiattr::ParseColor(value));
    } else if (n == L"disabledtextcolor") {
        SetDisabledTextColor(uiattr::ParseColor(value));
    } else if (n == L"textpadding") {
        SetTextPadding(uiattr::ParseRect(value));
    } else if (n == L"showhtml") {
        SetShowHtml(uiattr::ParseBool(value));
    } else if (n == L"enabledeffect") {
        effect_.enabled = uiattr::ParseBool(value);
    } else if (n == L"rhaa") {
        const int v = uiattr::ParseInt(value);
        effect_.rhaa = (v >= 0 && v <= 5) ? v : 0;
    } else if (n == L"transshadow") {
        effect_.transShadow = uiattr::ParseBool(value);
    } else if (n == L"transtext") {
        effect_.transText = uiattr::ParseBool(value);
    } else if (n == L"transshadow1") {
        effect_.transShadow1 = uiattr::ParseBool(value);
    } else if (n == L"transtext1") {
        effect_.transText1 = uiattr::ParseBool(value);
    } else if (n == L"gradientangle") {
        effect_.gradientAngle = uiattr::ParseInt(value);
    } else if (n == L"enabledstroke") {
        effect_.stroke = uiattr::ParseBool(value);
    } else if (n == L"enabledshadow") {
        effect_.shadow = uiattr::ParseBool(value);
    } else if (n == L"transstroke") {
        effect_.transStroke = uiattr::ParseBool(value);
    } else if (n == L"gradientlength") {
        effect_.gradientLength = uiattr::ParseInt(value);
    } else if (n == L"shadowoffset") {
        // Offsets are only meaningful for the gradient angle range the
        // effect supports; outside it the setting is ignored.
        if (effect_.gradientAngle >= -180 && effect_.gradientAngle <= 180) {
            SIZE s = uiattr::ParseSize(value);
            effect_.shadowOffset = POINT{s.cx, s.cy};
        }
    } else if (n == L"textcolor1") {
        effect_.textColor1 = uiattr::ParseColor(value);
    } else if (n == L"textshadowcolora") {
        effect_.shadowColorA = uiattr::ParseColor(value);
    } else if (n == L"textshadowcolorb") {
        effect_.shadowColorB = uiattr::ParseColor(value);
    } else if (n == L"strokecolor") {
        effect_.strokeColor = uiattr::ParseColor(value);
    } else {
        CControlUI::SetProperty(name, value);
    }
}

RECT CLabelUI::TextRect() const {
    RECT rc = bounds_;
    const RECT pad = Px(textPadding_);
    rc.left += pad.left;
    rc.top += pad.top;
    rc.right -= pad.right;
    rc.bottom -= pad.bottom;
    return rc;
}

void CLabelUI::DrawLabelText(HDC dc, const std::wstring& text, DWORD color, int font) {
    if (text.empty()) return;
    RECT rc = TextRect();
    if (showHtml_) {
        DrawHtmlText(dc, manager_, rc, text.c_str(), color, font, textStyle_);
        return;
    }
    HFONT hf = manager_ ? manager_->GetFont(font) : nullptr;
    const UINT style = textStyle_ | DT_SINGLELINE;
    if (effect_.enabled) {
        // Simple GDI renditions of the effects: a shadow copy offset by the
        // shadow offset, and a one-pixel outline for the stroke.
        if (effect_.shadow) {
            RECT s = rc;
            OffsetRect(&s, effect_.shadowOffset.x, effect_.shadowOffset.y);
            render::DrawPlainText(dc, s, text.c_str(), effect_.shadowColorA, hf, style);
        }
        if (effect_.stroke) {
            static const POINT kAround[] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
            for (const POINT& d : kAround) {
                RECT s = rc;
                OffsetRect(&s, d.x, d.y);
                render::DrawPlainText(dc, s, text.c_str(), effect_.strokeColor, hf, style);
            }
        }
    }
    render::DrawPlainText(dc, rc, text.c_str(), color, hf, style);
}

void CLabelUI::PaintText(HDC dc) {
    DWORD color;
    if (IsEnabled())
        color = textColor_ ? textColor_ : (manager_ ? manager_->GetDefaultFontColor() : 0xFF000000);
    else
        color = disabledTextColor_ ? disabledTextColor_ : (manager_ ? manager_->GetDefaultDisabledColor() : 0xFFA7A6AA);
    DrawLabelText(dc, text_, color, font_);
}
