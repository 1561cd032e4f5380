// The order Tab visits the real skins' controls in, and what the mapping to a
// screen reader's terms decides beyond the page trees that
// tests/e2e/access_test.py reads out of process.

#include <gtest/gtest.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "ui/AccessibleModel.h"
#include "ui/Control.h"
#include "ui/FocusChain.h"
#include "ui/TabLayout.h"

namespace {

// The names Tab visits, starting with nothing focused, once round.
std::vector<std::wstring> TabChain(CPaintHostUI& host) {
    host.SetFocus(nullptr);
    std::vector<std::wstring> names;
    while (names.size() < 12 && host.SetNextTabControl(true)) {
        const std::wstring& n = host.GetFocus()->GetName();
        if (!names.empty() && n == names.front()) break;
        names.push_back(n);
    }
    return names;
}

using Names = std::vector<std::wstring>;

TEST(Accessible, TabGoesThroughEachPageInReadingOrder) {
    uitest::SkinWindow w(L"InstallPackages.xml");
    ASSERT_TRUE(w.Open());
    auto* pages = dynamic_cast<CTabLayoutUI*>(w.Find(L"tb_main"));
    ASSERT_NE(nullptr, pages);
    // By its top alone btn_free (a pixel higher) would come before
    // btn_agreement; the caption buttons are not on the chain.
    const Names chains[] = {{L"btn_install", L"opt_agree", L"btn_agreement", L"btn_free"},
                            {L"edit_input", L"btn_select", L"btn_install2"},
                            {}};
    for (int page = 0; page < 3; ++page) {
        pages->Select(page);
        w.PaintHost().UpdateLayout();
        EXPECT_EQ(chains[page], TabChain(w.PaintHost())) << "page " << page;
    }
    // A disabled button leaves the chain and loses its default action.
    w.Find(L"btn_install2")->SetEnabled(false);
    pages->Select(1);
    EXPECT_EQ((Names{L"edit_input", L"btn_select"}), TabChain(w.PaintHost()));
    EXPECT_EQ(L"", DescribeControl(*w.Find(L"btn_install2"), true).defaultAction);
    // The bar reads as a clamped percentage, a two-line label as one line.
    w.Find(L"pro_InstallProgress")->SetProperty(L"value", L"250");
    EXPECT_EQ(L"100%", DescribeControl(*w.Find(L"pro_InstallProgress"), true).value);
    w.Find(L"lb_InstallPercent")->SetText(L"下载中\n剩12MB");
    EXPECT_EQ(L"下载中 剩12MB", DescribeControl(*w.Find(L"lb_InstallPercent"), true).name);
}

TEST(FocusChain, ReadingOrderGoesByLinesThenLeftToRight) {
    const struct {
        const char* what;
        std::vector<RECT> rects;
        std::vector<size_t> order;
    } cases[] = {
        {"one line listed right to left", {{200, 10, 250, 30}, {100, 12, 150, 28}, {0, 8, 50, 34}}, {2, 1, 0}},
        {"lines top to bottom", {{0, 100, 50, 130}, {400, 0, 450, 30}, {0, 40, 50, 70}}, {1, 2, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.order, ReadingOrder(c.rects)) << c.what;
    EXPECT_EQ(2u, NextInChain(3, static_cast<size_t>(-1), false));  // Shift+Tab from nothing: the last
}

}  // namespace
