// Both real windows built from the skin archive embedded in this test program,
// the way the installer builds them: window properties from the layout root
// and every named control at the rectangle the design gives it.

#include <gtest/gtest.h>

#include <string>

#include "UiTestSupport.h"
#include "ui/Control.h"
#include "ui/PaintHost.h"
#include "ui/TabLayout.h"
#include "ui/WindowImplBase.h"

namespace {

class SkinWindow : public WindowImplBase {
public:
    explicit SkinWindow(const wchar_t* file) : file_(file) {}
    const wchar_t* WindowClassName() const override { return L"OvUiSkinTestWindow"; }
    std::wstring SkinFolder() override { return L"skin"; }
    std::wstring SkinFile() override { return file_; }

    bool Open() {
        // The archive comes from the build step that embeds the skin into
        // this test program (cmake/skin.cmake).
        EXPECT_TRUE(FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(150), L"ZIPRES"))
            << "skin resource ZIPRES 150 is not linked into ui_tests";
        if (!Create(nullptr, L"skin test", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 0, 0, 0)) return false;
        ::ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
        paintHost_.UpdateLayout();
        return true;
    }
    ~SkinWindow() override {
        if (hwnd_) DestroyWindow(hwnd_);
    }

private:
    std::wstring file_;
};

struct Expected {
    const wchar_t* name;
    RECT rc;
};

void ExpectControls(CPaintHostUI& host, const Expected* begin, const Expected* end) {
    for (const Expected* e = begin; e != end; ++e) {
        CControlUI* c = host.FindByName(e->name);
        ASSERT_NE(nullptr, c) << "missing " << std::string(e->name, e->name + wcslen(e->name));
        const RECT& rc = c->GetPosition();
        EXPECT_TRUE(EqualRect(&rc, &e->rc)) << std::string(e->name, e->name + wcslen(e->name)) << ": " << rc.left
                                            << "," << rc.top << "," << rc.right << "," << rc.bottom;
    }
}

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

    const Expected always[] = {
        {L"VerticalLayoutUI1", {0, 0, 540, 355}},  {L"tb_main", {0, 0, 540, 355}},
        {L"btn_min", {485, 1, 510, 24}},           {L"btn_close", {512, 1, 537, 24}},
    };
    ExpectControls(host, std::begin(always), std::end(always));

    auto* tabs = dynamic_cast<CTabLayoutUI*>(host.FindByName(L"tb_main"));
    ASSERT_NE(nullptr, tabs);
    EXPECT_EQ(0, tabs->GetCurSel());
    const Expected page0[] = {
        {L"btn_install", {177, 237, 361, 281}},
        {L"opt_agree", {13, 323, 69, 347}},
        {L"btn_agreement", {64, 330, 136, 341}},
        {L"btn_free", {448, 329, 525, 342}},
    };
    ExpectControls(host, std::begin(page0), std::end(page0));

    ASSERT_TRUE(tabs->Select(1));
    host.UpdateLayout();
    const Expected page1[] = {
        {L"vlt_content", {0, 0, 540, 355}},   {L"edit_input", {36, 280, 423, 309}},
        {L"btn_select", {421, 280, 505, 309}}, {L"lb_leftspace", {273, 323, 333, 342}},
        {L"btn_install2", {407, 318, 507, 346}},
    };
    ExpectControls(host, std::begin(page1), std::end(page1));

    ASSERT_TRUE(tabs->Select(2));
    host.UpdateLayout();
    const Expected page2[] = {
        {L"pro_InstallProgress", {18, 319, 484, 349}},
        {L"lb_InstallPercent", {486, 320, 536, 352}},
    };
    ExpectControls(host, std::begin(page2), std::end(page2));
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
