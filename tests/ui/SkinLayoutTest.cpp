// Both real windows built from the skin archive embedded in this test program,
// the way the installer builds them: window properties from the layout root
// and every named control at the rectangle the design gives it.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "UiTestSupport.h"
#include "ui/Control.h"
#include "ui/PaintHost.h"
#include "ui/TabLayout.h"
#include "ui/WindowImplBase.h"
#include "ui/WndShadow.h"

using uitest::SkinWindow;

namespace {

struct Expected {
    const wchar_t* name;
    RECT rc;
};

// Each control at the design's rectangle times `scale`: exactly at 1, each
// edge within a pixel otherwise.
void ExpectControls(CPaintHostUI& host, const Expected* begin, const Expected* end, double scale = 1.0) {
    const double slack = scale == 1.0 ? 0.0 : 1.0;
    auto fits = [&](LONG design, LONG px) { return std::abs(design * scale - px) <= slack; };
    for (const Expected* e = begin; e != end; ++e) {
        CControlUI* c = host.FindByName(e->name);
        ASSERT_NE(nullptr, c) << "missing " << std::string(e->name, e->name + wcslen(e->name));
        const RECT& rc = c->GetPosition();
        EXPECT_TRUE(fits(e->rc.left, rc.left) && fits(e->rc.top, rc.top) && fits(e->rc.right, rc.right) &&
                    fits(e->rc.bottom, rc.bottom))
            << std::string(e->name, e->name + wcslen(e->name)) << " x" << scale << ": " << rc.left << "," << rc.top
            << "," << rc.right << "," << rc.bottom;
    }
}

// The install window's controls on each page at 96 dpi, as the design places them.
const Expected kAlways[] = {
    {L"VerticalLayoutUI1", {0, 0, 540, 355}}, {L"tb_main", {0, 0, 540, 355}},
    {L"btn_min", {485, 1, 510, 24}},          {L"btn_close", {512, 1, 537, 24}},
};
const Expected kPage0[] = {
    {L"btn_install", {177, 237, 361, 281}},
    {L"opt_agree", {13, 323, 69, 347}},
    {L"btn_agreement", {64, 330, 136, 341}},
    {L"btn_free", {448, 329, 525, 342}},
};
const Expected kPage1[] = {
    {L"vlt_content", {0, 0, 540, 355}},    {L"edit_input", {36, 280, 423, 309}},
    {L"btn_select", {421, 280, 505, 309}}, {L"lb_leftspace", {273, 323, 333, 342}},
    {L"btn_install2", {407, 318, 507, 346}},
};
const Expected kPage2[] = {
    {L"pro_InstallProgress", {18, 319, 484, 349}},
    {L"lb_InstallPercent", {486, 320, 536, 352}},
};

SIZE ClientSize(HWND hwnd) {
    RECT rc = {};
    GetClientRect(hwnd, &rc);
    return SIZE{rc.right, rc.bottom};
}

}  // namespace

TEST(SkinLayout, InstallWindowHasItsPropertiesAndEveryControlInPlace) {
    SkinWindow window(L"InstallPackages.xml");
    ASSERT_TRUE(window.Open());
    CPaintHostUI& host = window.PaintHost();

    const SIZE size = ClientSize(window.GetHWND());
    EXPECT_EQ(540, size.cx);
    EXPECT_EQ(355, size.cy);
    const RECT caption = host.GetCaptionRect();
    const RECT expectedCaption = {0, 0, 0, 100};
    EXPECT_TRUE(EqualRect(&caption, &expectedCaption));
    EXPECT_EQ(540, host.GetMinInfo().cx);
    EXPECT_EQ(355, host.GetMaxInfo().cy);
    EXPECT_EQ(2, host.GetRoundCorner().cx);
    EXPECT_TRUE(host.IsShadow());
    EXPECT_FALSE(host.IsLayered());
    EXPECT_EQ(L"shadow.png", host.GetShadowImage());
    const RECT border = host.GetShadowBorder();
    const RECT expectedBorder = {5, 4, 5, 6};
    EXPECT_TRUE(EqualRect(&border, &expectedBorder));
    ASSERT_EQ(2, host.GetFontCount());
    EXPECT_EQ(L"宋体", host.GetFontInfo(1)->name);
    EXPECT_EQ(12, host.GetFontInfo(1)->size);
    EXPECT_EQ(L"宋体", host.GetDefaultFontInfo()->name);

    ExpectControls(host, std::begin(kAlways), std::end(kAlways));

    auto* tabs = dynamic_cast<CTabLayoutUI*>(host.FindByName(L"tb_main"));
    ASSERT_NE(nullptr, tabs);
    EXPECT_EQ(0, tabs->GetCurSel());
    ExpectControls(host, std::begin(kPage0), std::end(kPage0));

    ASSERT_TRUE(tabs->Select(1));
    host.UpdateLayout();
    ExpectControls(host, std::begin(kPage1), std::end(kPage1));

    ASSERT_TRUE(tabs->Select(2));
    host.UpdateLayout();
    ExpectControls(host, std::begin(kPage2), std::end(kPage2));
}

// A move to a screen of another scale (WM_DPICHANGED, which tests must send:
// Wine never does) lays the window out again at that scale: its size, every
// control's rectangle (each edge within a pixel of the design's times the
// scale), the font's height, the shadow's extent, and the hit test where the
// install button is drawn. Back at 96 dpi everything is as the design has it.
TEST(SkinLayout, InstallWindowFollowsTheDisplayScale) {
    SkinWindow window(L"InstallPackages.xml");
    ASSERT_TRUE(window.Open());
    CPaintHostUI& host = window.PaintHost();
    HWND hwnd = window.GetHWND();
    auto* tabs = dynamic_cast<CTabLayoutUI*>(host.FindByName(L"tb_main"));
    ASSERT_NE(nullptr, tabs);
    const struct {
        const Expected *begin, *end;
        int page;
    } pages[] = {{std::begin(kAlways), std::end(kAlways), 0}, {std::begin(kPage0), std::end(kPage0), 0},
                 {std::begin(kPage1), std::end(kPage1), 1}, {std::begin(kPage2), std::end(kPage2), 2}};
    for (const int dpi : {120, 144, 192, 96}) {
        const double k = dpi / 96.0;
        RECT suggested = {40, 30, 40 + static_cast<LONG>(540 * k + 0.5), 30 + static_cast<LONG>(355 * k + 0.5)};
        SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(dpi, host.GetDpi());
        const SIZE size = ClientSize(hwnd);
        EXPECT_NEAR(540 * k, size.cx, 1.0) << dpi;
        EXPECT_NEAR(355 * k, size.cy, 1.0) << dpi;
        for (const auto& page : pages) {
            ASSERT_TRUE(tabs->Select(page.page));
            host.UpdateLayout();
            ExpectControls(host, page.begin, page.end, k);
        }
        ASSERT_TRUE(tabs->Select(0));
        host.UpdateLayout();
        const POINT centre = {static_cast<LONG>(269 * k), static_cast<LONG>(259 * k)};
        EXPECT_EQ(host.FindByName(L"btn_install"), host.FindControl(centre)) << dpi;
        LOGFONTW lf = {};
        ASSERT_TRUE(GetObjectW(host.GetFont(1), sizeof(lf), &lf));
        EXPECT_EQ(-static_cast<LONG>(12 * k + 0.5), lf.lfHeight) << dpi;
        ASSERT_NE(nullptr, CWndShadow::FromOwner(hwnd));
        EXPECT_EQ(static_cast<int>(14 * k + 0.5), CWndShadow::FromOwner(hwnd)->GetSize()) << dpi;
    }
    ExpectControls(host, std::begin(kAlways), std::end(kAlways));
}

TEST(SkinLayout, MessageBoxHasItsPropertiesAndEveryControlInPlace) {
    SkinWindow window(L"MessageBox.xml");
    ASSERT_TRUE(window.Open());
    CPaintHostUI& host = window.PaintHost();

    const SIZE size = ClientSize(window.GetHWND());
    EXPECT_EQ(280, size.cx);
    EXPECT_EQ(115, size.cy);
    EXPECT_EQ(35, host.GetCaptionRect().bottom);
    EXPECT_TRUE(host.IsShadow());
    ASSERT_EQ(2, host.GetFontCount());
    EXPECT_EQ(13, host.GetFontInfo(1)->size);

    const Expected controls[] = {
        {L"lb_title", {5, 5, 258, 27}},        {L"btn_close", {255, 0, 280, 23}},
        {L"hlt_tip_icon", {20, 42, 49, 71}},   {L"ctl_tip_icon", {20, 42, 49, 71}},
        {L"lb_text", {59, 46, 280, 71}},       {L"btn_ok", {140, 81, 200, 106}},
        {L"btn_cancel", {210, 81, 270, 106}},  {L"hlt_btn_0", {210, 81, 270, 106}},
    };
    ExpectControls(host, std::begin(controls), std::end(controls));
}
