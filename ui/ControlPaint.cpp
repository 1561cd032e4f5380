// The control's appearance: colours, border and images, and how they are
// painted in order (background colour, background image, state image, text,
// border), clipped to round corners when the control has them.
#include "ui/Control.h"

#include "ui/ImageString.h"
#include "ui/PaintHost.h"
#include "ui/Render.h"

void CControlUI::SetBkColor(DWORD color) {
    if (bkColor_ == color) return;
    bkColor_ = color;
    Redraw();
}
void CControlUI::SetBkColor2(DWORD color) {
    if (bkColor2_ == color) return;
    bkColor2_ = color;
    Redraw();
}
void CControlUI::SetBkColor3(DWORD color) {
    if (bkColor3_ == color) return;
    bkColor3_ = color;
    Redraw();
}
void CControlUI::SetBorderColor(DWORD color) {
    if (borderColor_ == color) return;
    borderColor_ = color;
    Redraw();
}
void CControlUI::SetFocusBorderColor(DWORD color) {
    if (focusBorderColor_ == color) return;
    focusBorderColor_ = color;
    Redraw();
}
void CControlUI::SetColorHSL(bool hsl) {
    if (colorHsl_ == hsl) return;
    colorHsl_ = hsl;
    Redraw();
}
void CControlUI::SetBorderSize(int size) {
    if (borderSize_ != size) {
        borderSize_ = size;
        Redraw();
    }
    borderSides_ = RECT{0, 0, 0, 0};
    Redraw();
}
void CControlUI::SetBorderSides(const RECT& sides) {
    borderSides_ = sides;
    Redraw();
}
void CControlUI::SetBorderStyle(int style) {
    borderStyle_ = style;
    Redraw();
}
void CControlUI::SetBorderRound(SIZE round) {
    borderRound_ = round;
    Redraw();
}
void CControlUI::SetBkImage(const std::wstring& image) {
    if (bkImage_ == image) return;
    bkImage_ = image;
    Redraw();
}
void CControlUI::SetForeImage(const std::wstring& image) {
    if (foreImage_ == image) return;
    foreImage_ = image;
    Redraw();
}

DWORD CControlUI::AdjustedColor(DWORD color) const {
    if (!colorHsl_) return color;
    short h, s, l;
    CPaintHostUI::GetHSL(&h, &s, &l);
    return render::AdjustColor(color, h, s, l);
}

bool CControlUI::DrawImage(HDC dc, const std::wstring& description, const wchar_t* modifier) {
    return DrawImageString(dc, manager_, bounds_, paintRect_, description.c_str(), modifier);
}

void CControlUI::Paint(HDC dc, const RECT& paint) {
    if (!render::IntersectRects(paintRect_, paint, bounds_)) return;
    // A clip that was never generated leaves the DC alone when it goes.
    CRenderClip clip;
    if (borderRound_.cx > 0 || borderRound_.cy > 0) {
        const SIZE round = Px(borderRound_);
        clip.GenerateRound(dc, paintRect_, bounds_, round.cx, round.cy);
    }
    PaintBkColor(dc);
    PaintBkImage(dc);
    PaintStatusImage(dc);
    PaintText(dc);
    PaintBorder(dc);
}

void CControlUI::PaintBkColor(HDC dc) {
    if (bkColor_ == 0) return;
    if (bkColor2_ == 0) {
        render::DrawColor(dc, (bkColor_ >> 24) == 0xFF ? paintRect_ : bounds_, AdjustedColor(bkColor_));
        return;
    }
    if (bkColor3_ == 0) {
        render::DrawGradient(dc, bounds_, AdjustedColor(bkColor_), AdjustedColor(bkColor2_), true, 16);
        return;
    }
    RECT upper = bounds_, lower = bounds_;
    upper.bottom = lower.top = bounds_.top + (bounds_.bottom - bounds_.top) / 2;
    render::DrawGradient(dc, upper, AdjustedColor(bkColor_), AdjustedColor(bkColor2_), true, 8);
    render::DrawGradient(dc, lower, AdjustedColor(bkColor2_), AdjustedColor(bkColor3_), true, 8);
}

void CControlUI::PaintBkImage(HDC dc) {
    if (bkImage_.empty()) return;
    if (!DrawImage(dc, bkImage_)) bkImage_.clear();
}

void CControlUI::PaintStatusImage(HDC dc) {
    if (foreImage_.empty()) return;
    if (!DrawImage(dc, foreImage_)) foreImage_.clear();
}

void CControlUI::PaintText(HDC) {}

void CControlUI::PaintBorder(HDC dc) {
    if (borderColor_ == 0 && focusBorderColor_ == 0) return;
    const DWORD border = AdjustedColor(borderColor_);
    const DWORD focusBorder = AdjustedColor(focusBorderColor_);
    const bool useFocus = focused_ && focusBorderColor_ != 0;
    const int size = Px(borderSize_);
    const SIZE round = Px(borderRound_);
    if (borderSize_ > 0 && (borderRound_.cx > 0 || borderRound_.cy > 0)) {
        render::DrawRoundRect(dc, bounds_, size, round.cx, round.cy, useFocus ? focusBorder : border);
        return;
    }
    if (useFocus && borderSize_ > 0) {
        render::DrawRect(dc, bounds_, size, focusBorder);
        return;
    }
    const RECT s = Px(borderSides_);
    if (s.left <= 0 && s.top <= 0 && s.right <= 0 && s.bottom <= 0) {
        if (borderSize_ > 0) render::DrawRect(dc, bounds_, size, border);
        return;
    }
    const RECT& b = bounds_;
    if (s.left > 0) render::DrawLine(dc, {b.left, b.top, b.left, b.bottom}, s.left, border, borderStyle_);
    if (s.top > 0) render::DrawLine(dc, {b.left, b.top, b.right, b.top}, s.top, border, borderStyle_);
    if (s.right > 0) render::DrawLine(dc, {b.right, b.top, b.right, b.bottom}, s.right, border, borderStyle_);
    if (s.bottom > 0) render::DrawLine(dc, {b.left, b.bottom, b.right, b.bottom}, s.bottom, border, borderStyle_);
}
