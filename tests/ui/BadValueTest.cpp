// Inputs the hardened bad-input campaign found: extreme numbers in a skin, and
// a PNG whose first data chunk is empty. Both used to reach undefined
// behaviour (a signed overflow, a copy into a null buffer).

#include <gtest/gtest.h>

#include <string>

#include "UiTestSupport.h"
#include "ui/Control.h"
#include "ui/ImageLoader.h"
#include "ui/UIAttr.h"

#include <zlib.h>

TEST(BadValue, SkinNumbersAreClampedSoLayoutArithmeticCannotOverflow) {
    struct Case {
        const wchar_t* text;
        int expected;
    } cases[] = {
        {L"2147483647", uiattr::kMaxValue},   {L"-2147483648", -uiattr::kMaxValue},
        {L"99999999999999", uiattr::kMaxValue}, {L"1000000", 1000000},
        {L"-999999", -999999},                {L"42", 42},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, uiattr::ParseInt(c.text)) << c.text;
        int v[2] = {};
        EXPECT_EQ(2, uiattr::ParseList((std::wstring(c.text) + L"," + c.text).c_str(), v, 2)) << c.text;
        EXPECT_EQ(c.expected, v[0]) << c.text;
        EXPECT_EQ(c.expected, v[1]) << c.text;
    }
    // "pos" takes the difference of two parsed coordinates.
    CControlUI control;
    control.SetProperty(L"pos", L"-2147483648,0,2147483647,10");
    EXPECT_EQ(2 * uiattr::kMaxValue, control.GetFixedWidth());
    EXPECT_EQ(10, control.GetFixedHeight());
}

TEST(BadValue, PngWithAnEmptyFirstDataChunkDecodes) {
    uitest::RgbaImage img = uitest::SolidImage(5, 3, 0x11223344);
    std::string png = uitest::EncodePng(img);
    // After the signature (8 bytes) and IHDR (25 bytes): an IDAT of no bytes.
    std::string empty("\0\0\0\0IDAT", 8);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>("IDAT"), 4);
    for (int shift = 24; shift >= 0; shift -= 8) empty += static_cast<char>((crc >> shift) & 0xFF);
    png.insert(33, empty);
    TImageInfo* info = DecodeImage(reinterpret_cast<const unsigned char*>(png.data()), png.size(), 0);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(5, info->width);
    EXPECT_EQ(3, info->height);
    FreeImage(info);
}
