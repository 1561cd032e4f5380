#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/CommonUtils.h"

TEST(CommonUtils, FormatSizeAtEveryUnitBorder)
{
    const uint64_t MiB = 1 << 20, GiB = MiB << 10, TiB = GiB << 10;
    struct Case { uint64_t bytes; const wchar_t* text; };
    const Case cases[] = {
        {0, L"0B"},           {999, L"999B"},           {1000, L"0KB"},  // 1000 of a unit moves on
        {1023, L"0KB"},       {1024, L"1KB"},           {1023999, L"999KB"},
        {1024000, L"0MB"},    {MiB, L"1MB"},            {120 * MiB, L"120MB"},
        {1048576000, L"0GB"}, {GiB, L"1GB"},            {4 * GiB + 10, L"4GB"},
        {1000 * GiB, L"0TB"}, {TiB, L"1TB"},            {1000 * TiB, L"1000TB"},  // no unit above TB
        {TiB << 10, L"1024TB"}, {~uint64_t{0}, L"16777215TB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}

TEST(CommonUtils, TerminateFolderPathAddsOneBackslash)
{
    EXPECT_EQ(TerminateFolderPath(L""), L"");
    EXPECT_EQ(TerminateFolderPath(L"D:\\"), L"D:\\");
    EXPECT_EQ(TerminateFolderPath(L"D:\\Games\\欧维澄岳"), L"D:\\Games\\欧维澄岳\\");
}
