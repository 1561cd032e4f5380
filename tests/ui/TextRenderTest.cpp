// The HTML-like text renderer and label painting with real fonts: tags,
// line feeds, wrapping and centring of Chinese text.

#include <gtest/gtest.h>

#include "ControlTestSupport.h"
#include "UiTestSupport.h"
#include "ui/HtmlText.h"
#include "ui/Label.h"
#include "ui/VerticalLayout.h"

using uitest::Surface;

namespace {

std::wstring Describe(const std::vector<HtmlToken>& tokens) {
    std::wstring out;
    for (const HtmlToken& t : tokens) {
        switch (t.kind) {
            case HtmlToken::kText: out += L"[" + t.text + L"]"; break;
            case HtmlToken::kLineBreak: out += L"|"; break;
            case HtmlToken::kOpen: out += std::wstring(L"<") + t.tag + (t.text.empty() ? L"" : L"=" + t.text) + L">"; break;
            case HtmlToken::kClose: out += std::wstring(L"</") + t.tag + L">"; break;
        }
    }
    return out;
}

// Columns that hold any pixel different from the background.
void InkSpan(const Surface& s, const RECT& rc, DWORD bk, int& left, int& right) {
    left = INT_MAX;
    right = -1;
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x)
            if (s.Rgb(x, y) != bk) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
}

struct FontHost {
    FontHost() {
        window = new uitest::TestWindow([](CPaintHostUI&) { return new CVerticalLayoutUI; });
        hwnd = window->CreateAt(0, 0, 200, 100);
        font = window->PaintHost().AddFont(L"宋体", 14, false, false, false);
    }
    ~FontHost() {
        if (hwnd) DestroyWindow(hwnd);
        uitest::PumpPending();
        delete window;
    }
    uitest::TestWindow* window;
    HWND hwnd;
    int font;
};

}  // namespace

TEST(HtmlText, Tokens) {
    struct Case {
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {L"plain", L"[plain]"},
        {L"a\r\nb\nc", L"[a]|[b]|[c]"},
        {L"<b>x</b>{i}y{/i}", L"<b>[x]</b><i>[y]</i>"},
        {L"<c #ffff0000>red</c>", L"<c=#ffff0000>[red]</c>"},
        {L"one<n>two", L"[one]|[two]"},
        {L"<r><b>raw</b></r>!", L"[<b>raw</b>!]"},
        {L"<r>unterminated <b>", L"[unterminated <b>]"},
        {L"a < b, <B>, <z>, <b", L"[a < b, <B>, <z>, <b]"},  // not tags: shown as text
        {L"<x 10>", L"<x=10>"},
    };
    for (const Case& c : cases) EXPECT_EQ(std::wstring(c.expected), Describe(TokenizeHtmlText(c.text))) << c.text;
}

TEST(HtmlText, ChineseWrapsInsideTheRectangleAndCentres) {
    FontHost host;
    ASSERT_NE(nullptr, host.hwnd);
    ASSERT_GE(host.font, 0);
    CPaintHostUI& ph = host.window->PaintHost();
    Surface s(200, 100, 0xFFFFFF);
    const wchar_t* text = L"正在下载安装包，剩余大小约一百二十兆字节，请稍候。";
    RECT rc = {10, 0, 130, 100};
    std::vector<HtmlLine> lines;
    DrawHtmlText(s.dc(), &ph, rc, text, 0xFF000000, host.font, DT_CENTER | DT_VCENTER, &lines);
    ASSERT_GE(lines.size(), 2u);
    std::wstring joined;
    int top = lines.front().rc.top, bottom = lines.back().rc.bottom;
    for (size_t i = 0; i < lines.size(); ++i) {
        const RECT& l = lines[i].rc;
        joined += lines[i].text;
        EXPECT_GE(l.left, 10) << i;
        EXPECT_LE(l.right, 130) << i;
        EXPECT_LE(std::abs((l.left - 10) - (130 - l.right)), 1) << "line " << i << " centred";
        if (i > 0) {
            EXPECT_EQ(lines[i - 1].rc.bottom, l.top);
        }
    }
    EXPECT_EQ(std::wstring(text), joined);  // nothing lost at the breaks
    EXPECT_LE(std::abs(top - (100 - bottom)), 1);  // block centred vertically

    // What was drawn sits inside the rectangle, balanced left and right.
    int left = 0, right = 0;
    InkSpan(s, RECT{0, 0, 200, 100}, 0xFFFFFF, left, right);
    EXPECT_GE(left, 10);
    EXPECT_LT(right, 130);

    // A real CJK face: two different characters draw differently (missing
    // glyphs would all be the same box).
    Surface a(40, 40, 0xFFFFFF), b(40, 40, 0xFFFFFF);
    RECT r1 = {0, 0, 40, 40}, r2 = r1;
    DrawHtmlText(a.dc(), &ph, r1, L"澄", 0xFF000000, host.font, 0);
    DrawHtmlText(b.dc(), &ph, r2, L"岳", 0xFF000000, host.font, 0);
    int differ = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) differ += a.Rgb(x, y) != b.Rgb(x, y);
    EXPECT_GT(differ, 10);
}

TEST(HtmlText, LineFeedsSingleLineAndEllipsis) {
    FontHost host;
    ASSERT_NE(nullptr, host.hwnd);
    CPaintHostUI& ph = host.window->PaintHost();
    Surface s(200, 100, 0xFFFFFF);
    std::vector<HtmlLine> lines;
    RECT rc = {0, 0, 200, 100};
    DrawHtmlText(s.dc(), &ph, rc, L"第一行\n第二行\n\n第四行", 0xFF000000, host.font, 0, &lines);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(L"第二行", lines[1].text);
    EXPECT_EQ(L"", lines[2].text);
    EXPECT_EQ(0, lines[0].rc.top);  // no vertical alignment asked

    // Single-line only stops breaking at the right edge: a line feed still
    // starts a new line (the progress label's "下载中\n剩…" must never run
    // together), and an overlong line runs on.
    rc = RECT{0, 0, 30, 100};
    DrawHtmlText(s.dc(), &ph, rc, L"甲\n乙丙丁戊己", 0xFF000000, host.font, DT_SINGLELINE, &lines);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L"甲", lines[0].text);
    EXPECT_EQ(L"乙丙丁戊己", lines[1].text);
    EXPECT_GT(lines[1].rc.top, lines[0].rc.top);

    rc = RECT{0, 0, 60, 20};
    DrawHtmlText(s.dc(), &ph, rc, L"一二三四五六七八九十", 0xFF000000, host.font, DT_SINGLELINE | DT_END_ELLIPSIS,
                 &lines);
    ASSERT_EQ(1u, lines.size());
    EXPECT_LE(lines[0].rc.right, 60);
    EXPECT_EQ(L"...", lines[0].text.substr(lines[0].text.size() - 3));

    RECT calc = {5, 5, 200, 100};
    DrawHtmlText(s.dc(), &ph, calc, L"<x 20>a", 0xFF000000, host.font, DT_CALCRECT);
    EXPECT_EQ(5, calc.left);
    EXPECT_GT(calc.right, 5 + 20);  // the x offset counts
    EXPECT_GT(calc.bottom, 5);
}

TEST(HtmlText, TagsChangeTheDrawing) {
    FontHost host;
    ASSERT_NE(nullptr, host.hwnd);
    CPaintHostUI& ph = host.window->PaintHost();
    RECT rc = {0, 0, 200, 40};
    Surface plain(200, 40, 0xFFFFFF), colour(200, 40, 0xFFFFFF), bold(200, 40, 0xFFFFFF);
    DrawHtmlText(plain.dc(), &ph, rc, L"ABC", 0xFF000000, host.font, 0);
    DrawHtmlText(colour.dc(), &ph, rc, L"<c #FFFF0000>ABC</c>", 0xFF000000, host.font, 0);
    RECT calcPlain = rc, calcBold = rc;
    DrawHtmlText(bold.dc(), &ph, calcPlain, L"WWWW", 0xFF000000, host.font, DT_CALCRECT);
    DrawHtmlText(bold.dc(), &ph, calcBold, L"<b>WWWW</b>", 0xFF000000, host.font, DT_CALCRECT);
    EXPECT_GT(calcBold.right, calcPlain.right);
    bool red = false;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x)
            if (colour.Rgb(x, y) != 0xFFFFFF && uitest::R(colour.Rgb(x, y)) > 200 && uitest::G(colour.Rgb(x, y)) < 80)
                red = true;
    EXPECT_TRUE(red);
}

TEST(HtmlText, LabelPaintsPlainTextOnOneLineAndHtmlOnMany) {
    FontHost host;
    ASSERT_NE(nullptr, host.hwnd);
    CLabelUI label;
    label.Attach(&host.window->PaintHost(), nullptr, false);
    label.SetFont(host.font);
    label.SetText(L"上\n下");
    label.SetPosition(RECT{0, 0, 100, 80});
    for (bool html : {false, true}) {
        label.SetShowHtml(html);
        Surface s(100, 80, 0xFFFFFF);
        label.Paint(s.dc(), RECT{0, 0, 100, 80});
        int rowsWithInk = 0, firstRow = -1, lastRow = -1;
        for (int y = 0; y < 80; ++y) {
            bool ink = false;
            for (int x = 0; x < 100; ++x) ink |= s.Rgb(x, y) != 0xFFFFFF;
            if (ink) {
                ++rowsWithInk;
                if (firstRow < 0) firstRow = y;
                lastRow = y;
            }
        }
        ASSERT_GT(rowsWithInk, 0) << html;
        if (html) {
            EXPECT_GT(lastRow - firstRow, 20);  // two lines
        } else {
            EXPECT_LT(lastRow - firstRow, 20);  // the plain renderer keeps one line
        }
    }
    label.SetText(L"");
    Surface empty(100, 80, 0xFFFFFF);
    label.Paint(empty.dc(), RECT{0, 0, 100, 80});
    EXPECT_EQ(0xFFFFFFu, empty.Rgb(50, 40));
}
