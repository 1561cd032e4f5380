#pragma once
// CProgressUI: a label with a fill proportional to its value between minimum
// and maximum, drawn with the fore image (stretched into the filled part, or
// cut from it when stretch-fore is off). SetValue stores any number; painting
// clamps it and treats an empty range (maximum <= minimum) as one unit wide.
//
// Threads: UI thread of the owning window only.

#include "ui/Label.h"

// The filled part of a progress bar of size `width` x `height`, relative to
// its left-top corner. Products are taken in 64 bits: byte counts times
// pixel widths exceed 32 bits.
RECT ProgressFillRect(int width, int height, int minimum, int maximum, int value, bool horizontal);

class CProgressUI : public CLabelUI {
public:
    CProgressUI();

    const wchar_t* ClassName() const override { return L"ProgressUI"; }
    void* AsInterface(const wchar_t* name) override;

    bool IsHorizontal() const { return horizontal_; }
    void SetHorizontal(bool horizontal);
    bool IsStretchForeImage() const { return stretchFore_; }
    void SetStretchForeImage(bool stretch);
    int GetMinValue() const { return min_; }
    void SetMinValue(int value);
    int GetMaxValue() const { return max_; }
    void SetMaxValue(int value);
    int GetValue() const { return value_; }
    void SetValue(int value);
    const std::wstring& GetProgressForeImage() const { return progressForeImage_; }
    void SetProgressForeImage(const std::wstring& image);

    void SetProperty(const wchar_t* name, const wchar_t* value) override;
    void PaintStatusImage(HDC dc) override;

private:
    bool horizontal_ = true;
    bool stretchFore_ = true;
    int min_ = 0, max_ = 100, value_ = 0;
    std::wstring progressForeImage_;
};
