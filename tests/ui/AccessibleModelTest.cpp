// What a screen reader is told about the real skins' controls, page by page,
// and the order Tab visits them in; plus the reading order on plain
// rectangles. (The out-of-process reading is tests/e2e/access_test.py.)

#include <gtest/gtest.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "ui/AccessibleModel.h"
#include "ui/Control.h"
#include "ui/FocusChain.h"
#include "ui/PaintHost.h"
#include "ui/TabLayout.h"
#include "ui/WindowImplBase.h"

namespace {

class SkinWindow : public WindowImplBase {
public:
    explicit SkinWindow(const wchar_t* file) : file_(file) {}
    const wchar_t* WindowClassName() const override { return L"OvUiAccessTestWindow"; }
    std::wstring SkinFolder() override { return L"skin"; }
    std::wstring SkinFile() override { return file_; }
    ~SkinWindow() override {
        if (hwnd_) DestroyWindow(hwnd_);
    }

private:
    std::wstring file_;
};

struct Row {
    const wchar_t* name;
    long role;
    long state;  // of the bits below only
};
const long kBits = STATE_SYSTEM_CHECKED | STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_FOCUSED;
const long F = STATE_SYSTEM_FOCUSABLE;

std::vector<std::wstring> Differences(CPaintHostUI& host, const std::vector<Row>& want, bool windowEnabled = true) {
    std::vector<std::wstring> got, expected;
    for (CControlUI* c : ExposedControls(host.GetRoot())) {
        if (!c->IsVisible()) continue;
        const AccessibleDescription d = DescribeControl(*c, windowEnabled);
        got.push_back(d.name + L" " + std::to_wstring(d.role) + L" " + std::to_wstring(d.state & kBits));
    }
    for (const Row& r : want)
        expected.push_back(std::wstring(r.name) + L" " + std::to_wstring(r.role) + L" " + std::to_wstring(r.state));
    return got == expected ? std::vector<std::wstring>() : got;
}

std::wstring Names(const std::vector<std::wstring>& rows) {
    std::wstring all;
    for (const auto& r : rows) all += r + L" | ";
    return all;
}

// The names Tab visits from nothing focused, once round.
std::vector<std::wstring> TabChain(CPaintHostUI& host) {
    host.SetFocus(nullptr);
    std::vector<std::wstring> names;
    for (int i = 0; i < 12 && host.SetNextTabControl(true); ++i) {
        const std::wstring& n = host.GetFocus()->GetName();
        if (!names.empty() && n == names.front()) break;
        names.push_back(n);
    }
    return names;
}

TEST(Accessible, EveryPageOfTheInstallWindowReadsAsDesignedAndTabsInReadingOrder) {
    SkinWindow w(L"InstallPackages.xml");
    ASSERT_NE(nullptr, w.Create(nullptr, L"安装澄岳", WS_POPUP, 0, 0, 0, 0, 0));
    ::ShowWindow(w.GetHWND(), SW_SHOWNOACTIVATE);
    CPaintHostUI& host = w.PaintHost();
    host.UpdateLayout();
    auto* pages = dynamic_cast<CTabLayoutUI*>(host.FindByName(L"tb_main"));
    ASSERT_NE(nullptr, pages);
    host.FindByName(L"lb_leftspace")->SetText(L"20.5GB");
    host.FindByName(L"btn_install2")->SetEnabled(false);

    struct Page {
        int index;
        std::vector<Row> rows;
        std::vector<std::wstring> tabs;
    } cases[] = {
        {0,
         {{L"立即安装", ROLE_SYSTEM_PUSHBUTTON, F},
          {L"同意软件许可协议", ROLE_SYSTEM_CHECKBUTTON, F | STATE_SYSTEM_CHECKED},
          {L"软件许可协议", ROLE_SYSTEM_LINK, F},
          {L"自定义安装", ROLE_SYSTEM_PUSHBUTTON, F},
          {L"最小化", ROLE_SYSTEM_PUSHBUTTON, 0},
          {L"关闭", ROLE_SYSTEM_PUSHBUTTON, 0}},
         {L"btn_install", L"opt_agree", L"btn_agreement", L"btn_free"}},
        {1,
         {{L"安装目录", ROLE_SYSTEM_STATICTEXT, 0},
          {L"安装目录", ROLE_SYSTEM_TEXT, F},
          {L"选择目录", ROLE_SYSTEM_PUSHBUTTON, F},
          {L"所需磁盘空间：120MB", ROLE_SYSTEM_STATICTEXT, 0},
          {L"可用磁盘空间：", ROLE_SYSTEM_STATICTEXT, 0},
          {L"20.5GB", ROLE_SYSTEM_STATICTEXT, 0},
          {L"立即安装", ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_UNAVAILABLE},
          {L"最小化", ROLE_SYSTEM_PUSHBUTTON, 0},
          {L"关闭", ROLE_SYSTEM_PUSHBUTTON, 0}},
         {L"edit_input", L"btn_select"}},
        {2,
         {{L"安装进度", ROLE_SYSTEM_PROGRESSBAR, 0},
          {L"0%", ROLE_SYSTEM_STATICTEXT, 0},
          {L"最小化", ROLE_SYSTEM_PUSHBUTTON, 0},
          {L"关闭", ROLE_SYSTEM_PUSHBUTTON, 0}},
         {}},
    };
    for (const Page& p : cases) {
        pages->Select(p.index);
        host.UpdateLayout();
        EXPECT_EQ(L"", Names(Differences(host, p.rows))) << "page " << p.index;
        EXPECT_EQ(p.tabs, TabChain(host)) << "page " << p.index;
    }

    // Under a modal box every control is unavailable; a disabled button has
    // no default action; the bar's value is its percentage; the focused
    // control says so; a two-line label reads as one line.
    pages->Select(0);
    host.UpdateLayout();
    CControlUI* install = host.FindByName(L"btn_install");
    EXPECT_TRUE(DescribeControl(*install, false).state & STATE_SYSTEM_UNAVAILABLE);
    EXPECT_EQ(L"按下", DescribeControl(*install, true).defaultAction);
    EXPECT_EQ(L"", DescribeControl(*host.FindByName(L"btn_install2"), true).defaultAction);
    host.SetFocus(install);
    EXPECT_TRUE(DescribeControl(*install, true).state & STATE_SYSTEM_FOCUSED);
    CControlUI* bar = host.FindByName(L"pro_InstallProgress");
    bar->SetProperty(L"value", L"42");
    EXPECT_EQ(L"42%", DescribeControl(*bar, true).value);
    EXPECT_TRUE(DescribeControl(*bar, true).state & STATE_SYSTEM_INVISIBLE);
    host.FindByName(L"lb_InstallPercent")->SetText(L"下载中\n剩12MB");
    EXPECT_EQ(L"下载中 剩12MB", DescribeControl(*host.FindByName(L"lb_InstallPercent"), true).name);
}

TEST(Accessible, TheMessageBoxReadsItsTextAndTabsBetweenItsButtons) {
    SkinWindow w(L"MessageBox.xml");
    ASSERT_NE(nullptr, w.Create(nullptr, L"退出安装", WS_POPUP, 0, 0, 0, 0, 0));
    CPaintHostUI& host = w.PaintHost();
    host.UpdateLayout();
    EXPECT_EQ(L"", Names(Differences(host, {{L"退出安装", ROLE_SYSTEM_STATICTEXT, 0},
                                            {L"关闭", ROLE_SYSTEM_PUSHBUTTON, 0},
                                            {L"是否退出安装？", ROLE_SYSTEM_STATICTEXT, 0},
                                            {L"确定", ROLE_SYSTEM_PUSHBUTTON, F},
                                            {L"取消", ROLE_SYSTEM_PUSHBUTTON, F}})));
    EXPECT_EQ((std::vector<std::wstring>{L"btn_ok", L"btn_cancel"}), TabChain(host));
}

TEST(FocusChain, ReadingOrderGoesByLinesThenLeftToRight) {
    struct Case {
        const char* what;
        std::vector<RECT> rects;
        std::vector<size_t> order;
    } cases[] = {
        {"one line, listed right to left", {{200, 10, 250, 30}, {100, 12, 150, 28}, {0, 8, 50, 34}}, {2, 1, 0}},
        {"a taller control shares the line of a shorter one", {{300, 16, 377, 29}, {13, 10, 69, 34}, {64, 17, 136, 28}},
         {1, 2, 0}},
        {"lines top to bottom", {{0, 100, 50, 130}, {400, 0, 450, 30}, {0, 40, 50, 70}}, {1, 2, 0}},
        {"nothing", {}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.order, ReadingOrder(c.rects)) << c.what;

    const size_t none = static_cast<size_t>(-1);
    EXPECT_EQ(0u, NextInChain(3, none, true));
    EXPECT_EQ(2u, NextInChain(3, none, false));
    EXPECT_EQ(0u, NextInChain(3, 2, true));
    EXPECT_EQ(2u, NextInChain(3, 0, false));
    EXPECT_EQ(none, NextInChain(0, none, true));
}

}  // namespace
