#include "ui/Progress.h"

#include <cwchar>

#include "Runtime/TextUtil.h"
#include "ui/PaintHost.h"
#include "ui/UIAttr.h"

RECT ProgressFillRect(int width, int height, int minimum, int maximum, int value, bool horizontal) {
    if (maximum <= minimum) maximum = minimum + 1;
    if (value < minimum) value = minimum;
    if (value > maximum) value = maximum;
    const long long range = static_cast<long long>(maximum) - minimum;
    if (horizontal) {
        const long long w = (static_cast<long long>(value) - minimum) * width / range;
        return RECT{0, 0, static_cast<LONG>(w), height};
    }
    const long long t = static_cast<long long>(height) * (static_cast<long long>(maximum) - value) / range;
    return RECT{0, static_cast<LONG>(t), width, height};
}

CProgressUI::CProgressUI() { textStyle_ = DT_SINGLELINE | DT_CENTER; }

void* CProgressUI::AsInterface(const wchar_t* name) {
    if (name && wcscmp(name, L"Progress") == 0) return this;
    return CLabelUI::AsInterface(name);
}

void CProgressUI::SetHorizontal(bool horizontal) {
    if (horizontal_ == horizontal) return;
    horizontal_ = horizontal;
    Redraw();
}

void CProgressUI::SetStretchForeImage(bool stretch) {
    if (stretchFore_ == stretch) return;
    stretchFore_ = stretch;
    Redraw();
}

void CProgressUI::SetMinValue(int value) {
    min_ = value;
    Redraw();
}

void CProgressUI::SetMaxValue(int value) {
    max_ = value;
    Redraw();
}

void CProgressUI::SetValue(int value) {
    if (value_ == value) return;
    value_ = value;
    Redraw();
    if (manager_) manager_->NotifyAccessibleValue(this);
}

void CProgressUI::SetProgressForeImage(const std::wstring& image) {
    if (progressForeImage_ == image) return;
    progressForeImage_ = image;
    Redraw();
}

void CProgressUI::SetProperty(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    const std::wstring n(name);
    if (n == L"foreimage")
        SetProgressForeImage(value);
    else if (n == L"hor")
        SetHorizontal(uiattr::ParseBool(value));
    else if (n == L"min")
        SetMinValue(uiattr::ParseInt(value));
    else if (n == L"max")
        SetMaxValue(uiattr::ParseInt(value));
    else if (n == L"value")
        SetValue(uiattr::ParseInt(value));
    else if (n == L"isstretchfore" || n == L"roundcorner")
        SetStretchForeImage(uiattr::ParseBool(value));
    else
        CLabelUI::SetProperty(name, value);
}

void CProgressUI::PaintStatusImage(HDC dc) {
    if (progressForeImage_.empty()) return;
    const RECT fill = ProgressFillRect(GetWidth(), GetHeight(), min_, max_, value_, horizontal_);
    if (fill.right <= fill.left || fill.bottom <= fill.top) return;  // nothing filled yet
    const std::wstring modifier =
        stretchFore_ ? Format(L"dest='%d,%d,%d,%d'", fill.left, fill.top, fill.right, fill.bottom)
                     : Format(L"dest='%d,%d,%d,%d' source='%d,%d,%d,%d'", fill.left, fill.top, fill.right,
                              fill.bottom, fill.left, fill.top, fill.right, fill.bottom);
    if (!DrawImage(dc, progressForeImage_, modifier.c_str())) progressForeImage_.clear();
}
