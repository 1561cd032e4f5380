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

// The smallest box (edges inclusive) holding every pixel that differs from
// the background; right and bottom stay -1 when there is none.
RECT Ink(const Surface& s, DWORD bk = 0xFFFFFF) {
    RECT ink = {INT_MAX, INT_MAX, -1, -1};
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x)
            if (s.Rgb(x, y) != bk) ink = RECT{std::min<LONG>(ink.left, x), std::min<LONG>(ink.top, y),
                                                std::max<LONG>(ink.right, x), std::max<LONG>(ink.bottom, y)};
    return ink;
}

// A window whose paint manager holds the test font: 宋体 at 14.
class HtmlDraw : public ::testing::Test {
protected:
    void SetUp() override {
        hwnd_ = window_.CreateAt(0, 0, 200, 100);
        ASSERT_NE(nullptr, hwnd_);
        font_ = window_.PaintHost().AddFont(L"宋体", 14, false, false, false);
        ASSERT_GE(font_, 0);
    }
    void TearDown() override {
        if (hwnd_) DestroyWindow(hwnd_);
        uitest::PumpPending();
    }
    void Draw(const Surface& s, RECT& rc, const wchar_t* text, UINT style, std::vector<HtmlLine>* lines = nullptr) {
        DrawHtmlText(s.dc(), &window_.PaintHost(), rc, text, 0xFF000000, font_, style, lines);
    }

    uitest::TestWindow window_{[](CPaintHostUI&) { return new CVerticalLayoutUI; }};
    HWND hwnd_ = nullptr;
    int font_ = -1;
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

TEST_F(HtmlDraw, ChineseWrapsInsideTheRectangleAndCentres) {
    Surface s(200, 100, 0xFFFFFF);
    const wchar_t* text = L"正在下载安装包，剩余大小约一百二十兆字节，请稍候。";
    RECT rc = {10, 0, 130, 100};
    std::vector<HtmlLine> lines;
    Draw(s, rc, text, DT_CENTER | DT_VCENTER, &lines);
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
    const RECT ink = Ink(s);
    EXPECT_GE(ink.left, 10);
    EXPECT_LT(ink.right, 130);

    // A real CJK face: two different characters draw differently (missing
    // glyphs would all be the same box).
    Surface a(40, 40, 0xFFFFFF), b(40, 40, 0xFFFFFF);
    RECT r1 = {0, 0, 40, 40}, r2 = r1;
    Draw(a, r1, L"澄", 0);
    Draw(b, r2, L"岳", 0);
    int differ = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) differ += a.Rgb(x, y) != b.Rgb(x, y);
    EXPECT_GT(differ, 10);
}

TEST_F(HtmlDraw, LineFeedsSingleLineAndEllipsis) {
    Surface s(200, 100, 0xFFFFFF);
    std::vector<HtmlLine> lines;
    RECT rc = {0, 0, 200, 100};
    Draw(s, rc, L"第一行\n第二行\n\n第四行", 0, &lines);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(L"第二行", lines[1].text);
    EXPECT_EQ(L"", lines[2].text);
    EXPECT_EQ(0, lines[0].rc.top);  // no vertical alignment asked

    // Single-line only stops breaking at the right edge: a line feed still
    // starts a new line (the progress label's "下载中\n剩…" must never run
    // together), and an overlong line runs on.
    rc = RECT{0, 0, 30, 100};
    Draw(s, rc, L"甲\n乙丙丁戊己", DT_SINGLELINE, &lines);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L"甲", lines[0].text);
    EXPECT_EQ(L"乙丙丁戊己", lines[1].text);
    EXPECT_GT(lines[1].rc.top, lines[0].rc.top);

    rc = RECT{0, 0, 60, 20};
    Draw(s, rc, L"一二三四五六七八九十", DT_SINGLELINE | DT_END_ELLIPSIS, &lines);
    ASSERT_EQ(1u, lines.size());
    EXPECT_LE(lines[0].rc.right, 60);
    EXPECT_EQ(L"...", lines[0].text.substr(lines[0].text.size() - 3));

    RECT calc = {5, 5, 200, 100};
    Draw(s, calc, L"<x 20>a", DT_CALCRECT);
    EXPECT_EQ(5, calc.left);
    EXPECT_GT(calc.right, 5 + 20);  // the x offset counts
    EXPECT_GT(calc.bottom, 5);
}

TEST_F(HtmlDraw, TagsChangeTheDrawing) {
    RECT rc = {0, 0, 200, 40};
    Surface plain(200, 40, 0xFFFFFF), colour(200, 40, 0xFFFFFF), bold(200, 40, 0xFFFFFF);
    Draw(plain, rc, L"ABC", 0);
    Draw(colour, rc, L"<c #FFFF0000>ABC</c>", 0);
    RECT calcPlain = rc, calcBold = rc;
    Draw(bold, calcPlain, L"WWWW", DT_CALCRECT);
    Draw(bold, calcBold, L"<b>WWWW</b>", DT_CALCRECT);
    EXPECT_GT(calcBold.right, calcPlain.right);
    bool red = false;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x)
            if (colour.Rgb(x, y) != 0xFFFFFF && uitest::R(colour.Rgb(x, y)) > 200 && uitest::G(colour.Rgb(x, y)) < 80)
                red = true;
    EXPECT_TRUE(red);
}

TEST_F(HtmlDraw, LabelPaintsPlainTextOnOneLineAndHtmlOnMany) {
    CLabelUI label;
    label.Attach(&window_.PaintHost(), nullptr, false);
    label.SetFont(font_);
    label.SetText(L"上\n下");
    label.SetPosition(RECT{0, 0, 100, 80});
    for (bool html : {false, true}) {
        label.SetShowHtml(html);
        Surface s(100, 80, 0xFFFFFF);
        label.Paint(s.dc(), RECT{0, 0, 100, 80});
        const RECT ink = Ink(s);
        ASSERT_GE(ink.bottom, 0) << html;
        if (html) {
            EXPECT_GT(ink.bottom - ink.top, 20);  // two lines
        } else {
            EXPECT_LT(ink.bottom - ink.top, 20);  // the plain renderer keeps one line
        }
    }
    label.SetText(L"");
    Surface empty(100, 80, 0xFFFFFF);
    label.Paint(empty.dc(), RECT{0, 0, 100, 80});
    EXPECT_EQ(0xFFFFFFu, empty.Rgb(50, 40));
}
