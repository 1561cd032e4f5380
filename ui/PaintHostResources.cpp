// The stores the layout builder fills and the controls read while painting:
// fonts, images, default attribute lists and option groups of one window, and
// the process-wide control plug-ins and colour adjustment.
#include "ui/PaintHost.h"

#include "ui/PaintHostInternal.h"

using painthost::AddUnique;
using painthost::RemoveItem;

namespace {

std::vector<CreateControlProc>& Plugins() {
    static std::vector<CreateControlProc> list;
    return list;
}

struct Hsl {
    bool use = false;
    short h = 180, s = 100, l = 100;
};
Hsl& HslState() {
    static Hsl hsl;
    return hsl;
}

// Measured once, on first use.
void FillMetrics(TFontInfo& info, HDC dc) {
    if (info.tm.tmHeight != 0 || !info.font) return;
    HDC use = dc ? dc : GetDC(nullptr);
    if (!use) return;
    HGDIOBJ old = SelectObject(use, info.font);
    GetTextMetricsW(use, &info.tm);
    SelectObject(use, old);
    if (!dc) ReleaseDC(nullptr, use);
}

}  // namespace

// ---- fonts ------------------------------------------------------------------

void CPaintHostUI::InitDefaultFont() {
    LOGFONTW lf = {};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    lf.lfCharSet = DEFAULT_CHARSET;
    defaultFont_.font = CreateFontIndirectW(&lf);
    ownDefaultFont_ = defaultFont_.font != nullptr;
    if (!defaultFont_.font) defaultFont_.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    defaultFont_.name = lf.lfFaceName;
    defaultFont_.size = -lf.lfHeight;
    defaultFont_.bold = lf.lfWeight >= FW_BOLD;
}

TFontInfo CPaintHostUI::MakeFont(const std::wstring& name, int size, bool bold, bool underline, bool italic) {
    TFontInfo info;
    LOGFONTW lf = {};
    GetObjectW(defaultFont_.font, sizeof(lf), &lf);
    if (!name.empty()) lstrcpynW(lf.lfFaceName, name.c_str(), LF_FACESIZE);
    lf.lfCharSet = DEFAULT_CHARSET;
    // Made at the window's scale, so text is drawn at that size, not stretched.
    lf.lfHeight = -Px(size);
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = underline ? TRUE : FALSE;
    lf.lfItalic = italic ? TRUE : FALSE;
    info.font = CreateFontIndirectW(&lf);
    info.name = name;
    info.size = size;
    info.bold = bold;
    info.underline = underline;
    info.italic = italic;
    return info;
}

int CPaintHostUI::AddFont(const std::wstring& name, int size, bool bold, bool underline, bool italic) {
    TFontInfo info = MakeFont(name, size, bold, underline, italic);
    if (!info.font) return -1;
    fonts_.push_back(info);
    return static_cast<int>(fonts_.size()) - 1;
}

HFONT CPaintHostUI::GetFont(int index) {
    if (index < 0 || index >= GetFontCount()) return defaultFont_.font;
    return fonts_[static_cast<size_t>(index)].font;
}

const TFontInfo* CPaintHostUI::GetFontInfo(int index) {
    if (index < 0 || index >= GetFontCount()) return GetDefaultFontInfo();
    TFontInfo& info = fonts_[static_cast<size_t>(index)];
    FillMetrics(info, windowDC_);
    return &info;
}

void CPaintHostUI::SetDefaultFont(const std::wstring& name, int size, bool bold, bool underline, bool italic) {
    TFontInfo info = MakeFont(name, size, bold, underline, italic);
    if (!info.font) return;
    if (ownDefaultFont_) DeleteObject(defaultFont_.font);
    defaultFont_ = info;
    ownDefaultFont_ = true;
    markupDefaultFont_ = true;
}

void CPaintHostUI::RemakeFonts() {
    for (TFontInfo& f : fonts_) {
        TFontInfo made = MakeFont(f.name, f.size, f.bold, f.underline, f.italic);
        if (!made.font) continue;  // keeps the old one rather than none
        if (f.font) DeleteObject(f.font);
        f = made;
    }
    if (markupDefaultFont_) {
        TFontInfo made = MakeFont(defaultFont_.name, defaultFont_.size, defaultFont_.bold, defaultFont_.underline,
                                  defaultFont_.italic);
        if (made.font) {
            if (ownDefaultFont_) DeleteObject(defaultFont_.font);
            defaultFont_ = made;
        }
    }
}

const TFontInfo* CPaintHostUI::GetDefaultFontInfo() {
    FillMetrics(defaultFont_, windowDC_);
    return &defaultFont_;
}

void CPaintHostUI::FreeFonts() {
    for (TFontInfo& f : fonts_)
        if (f.font) DeleteObject(f.font);
    fonts_.clear();
}

// ---- images, defaults, option groups ---------------------------------------------

const TImageInfo* CPaintHostUI::GetImage(const std::wstring& name) {
    auto it = images_.find(name);
    return it == images_.end() ? nullptr : it->second;
}

const TImageInfo* CPaintHostUI::GetImageEx(const std::wstring& name, const wchar_t* resType, DWORD mask) {
    if (const TImageInfo* image = GetImage(name)) return image;
    return AddImage(name, resType, mask);
}

const TImageInfo* CPaintHostUI::AddImage(const std::wstring& name, const wchar_t* resType, DWORD mask) {
    if (name.empty()) return nullptr;
    TImageInfo* image = LoadSkinImage(name, resType, mask, dpi_);
    if (!image) return nullptr;
    auto it = images_.find(name);
    if (it != images_.end()) FreeImage(it->second);
    images_[name] = image;
    return image;
}

void CPaintHostUI::RemoveImage(const std::wstring& name) {
    auto it = images_.find(name);
    if (it == images_.end()) return;
    FreeImage(it->second);
    images_.erase(it);
}

void CPaintHostUI::ReloadImages() {
    for (auto& kv : images_) {
        TImageInfo* old = kv.second;
        TImageInfo* made =
            LoadSkinImage(kv.first, old->resType.empty() ? nullptr : old->resType.c_str(), old->mask, dpi_);
        if (!made) continue;  // the old bitmap still draws, only less sharp
        FreeImage(old);
        kv.second = made;
    }
}

void CPaintHostUI::RemoveAllImages() {
    for (auto& kv : images_) FreeImage(kv.second);
    images_.clear();
}

void CPaintHostUI::AddDefaultAttributeList(const std::wstring& className, const std::wstring& list) {
    defaultAttributes_[className] = list;
}

const wchar_t* CPaintHostUI::GetDefaultAttributeList(const std::wstring& className) const {
    auto it = defaultAttributes_.find(className);
    return it == defaultAttributes_.end() ? nullptr : it->second.c_str();
}

bool CPaintHostUI::AddOptionGroup(const std::wstring& group, CControlUI* control) {
    if (group.empty() || !control) return false;
    return AddUnique(optionGroups_[group], control);
}

const std::vector<CControlUI*>* CPaintHostUI::GetOptionGroup(const std::wstring& group) const {
    auto it = optionGroups_.find(group);
    return it == optionGroups_.end() ? nullptr : &it->second;
}

void CPaintHostUI::RemoveOptionGroup(const std::wstring& group, CControlUI* control) {
    auto it = optionGroups_.find(group);
    if (it == optionGroups_.end()) return;
    RemoveItem(it->second, control);
    if (it->second.empty()) optionGroups_.erase(it);
}

// ---- process-wide ----------------------------------------------------------------

void CPaintHostUI::AddPlugin(CreateControlProc proc) {
    if (proc && std::find(Plugins().begin(), Plugins().end(), proc) == Plugins().end()) Plugins().push_back(proc);
}
const std::vector<CreateControlProc>& CPaintHostUI::GetPlugins() { return Plugins(); }

void CPaintHostUI::SetHSL(bool use, short hue, short saturation, short lightness) {
    HslState().use = use;
    HslState().h = hue;
    HslState().s = saturation;
    HslState().l = lightness;
}
bool CPaintHostUI::IsUsingHSL() { return HslState().use; }
void CPaintHostUI::GetHSL(short* hue, short* saturation, short* lightness) {
    *hue = HslState().use ? HslState().h : 180;
    *saturation = HslState().use ? HslState().s : 100;
    *lightness = HslState().use ? HslState().l : 100;
}
