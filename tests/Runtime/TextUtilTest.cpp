#include <gtest/gtest.h>
#include <windows.h>

#include "Runtime/TextUtil.h"

TEST(TextUtil, NarrowWideRoundTripInTheAnsiCodePage)
{
    EXPECT_EQ(ToNarrow(L"http://127.0.0.1/a?b=1"), "http://127.0.0.1/a?b=1");
    EXPECT_EQ(ToWide("Content-Length: 10"), L"Content-Length: 10");
    EXPECT_EQ(ToNarrow(L""), "");
    EXPECT_EQ(ToWide(""), L"");

    if (GetACP() == 936) {
        // Chinese text survives the round trip through GBK and takes two bytes a character.
        std::string gbk = ToNarrow(L"安装澄岳");
        EXPECT_EQ(gbk.size(), 8u);
        EXPECT_EQ(ToWide(gbk), L"安装澄岳");
    }
}

TEST(TextUtil, NarrowTextIsSizedForItsCodePage)
{
    // With the UTF-8 system code page (a Windows option) a Chinese character
    // takes three bytes and one outside the basic plane four: more than the
    // two a character that the GBK code page needs.
    EXPECT_EQ(ToNarrow(L"http://127.0.0.1/下载/安装澄岳.exe", CP_UTF8),
              "http://127.0.0.1/\xE4\xB8\x8B\xE8\xBD\xBD/\xE5\xAE\x89\xE8\xA3\x85\xE6\xBE\x84\xE5\xB2\xB3.exe");
    EXPECT_EQ(ToNarrow(L"安装", CP_UTF8), "\xE5\xAE\x89\xE8\xA3\x85");
    EXPECT_EQ(ToNarrow(std::wstring(L"\xD83D\xDE00"), CP_UTF8), "\xF0\x9F\x98\x80");
    // Code pages that cannot hold a character put a space in its place (Thai
    // is in neither code page 1252 nor 936); the neighbours stay intact.
    EXPECT_EQ(ToNarrow(L"a\u0E01b", 936), "a b");
    EXPECT_EQ(ToNarrow(L"\u0E01\u0E02"), "  ");
    EXPECT_EQ(ToNarrow(L"安装", 936), "\xB0\xB2\xD7\xB0");
}

TEST(TextUtil, Utf8ToWideDecodesMultiByteAndSurrogatePairs)
{
    EXPECT_EQ(Utf8ToWide("Version=1.2"), L"Version=1.2");
    EXPECT_EQ(Utf8ToWide("\xE5\xAE\x89\xE8\xA3\x85"), L"安装");
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), std::wstring(L"\xD83D\xDE00"));
    EXPECT_EQ(Utf8ToWide(""), L"");
}

TEST(TextUtil, FormatUsesWideStringConventionsAndHasNoLengthLimit)
{
    EXPECT_EQ(Format(L"%s ret：%d", L"C:\\dir", -5), L"C:\\dir ret：-5");
    EXPECT_EQ(Format(L"%I64d/%I64u", static_cast<long long>(-1), 5000000000ULL), L"-1/5000000000");
    EXPECT_EQ(Format(nullptr), L"");
    EXPECT_EQ(Format(L"%s", L""), L"");
    std::wstring big(100000, L'x');
    EXPECT_EQ(Format(L"<%s>", big.c_str()), L"<" + big + L">");
}

TEST(TextUtil, TrimStripsOnlyTheEnds)
{
    struct Case { std::wstring in, out; };
    const Case cases[] = {
        {L"  a b  ", L"a b"}, {L"   ", L"   "}, {L"", L""}, {L"\t\r\nx\n", L"x"}, {L"x", L"x"},
    };
    for (const Case& c : cases) {
        std::wstring s = c.in;
        std::wstring& r = Trim(s);
        EXPECT_EQ(&r, &s);
        EXPECT_EQ(s, c.out) << "input [" << ToNarrow(c.in) << "]";
    }
}
