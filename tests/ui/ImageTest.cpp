// PNG decoding into premultiplied bitmaps and image description strings drawn
// into real DIB sections.

#include <gtest/gtest.h>

#include <cstdlib>

#include "UiTestSupport.h"
#include "ui/Control.h"
#include "ui/ImageLoader.h"
#include "ui/ImageString.h"
#include "ui/PaintHost.h"
#include "ui/Render.h"
#include "ui/SkinResources.h"

using uitest::Surface;

namespace {

const DWORD kWhite = 0xFFFFFF;
const DWORD kRed = 0xFF0000;
const DWORD kGreen = 0x00FF00;
const DWORD kBlue = 0x0000FF;
const DWORD kGrey = 0x808080;

// Skin images served from an in-memory archive, as the product serves them.
class SkinImages : public ::testing::Test {
protected:
    void SetUp() override {
        using uitest::SolidImage;
        uitest::RgbaImage nine = SolidImage(9, 9, 0x00FF00FF);  // edges green
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x) {
                bool cx = x < 3 || x >= 6, cy = y < 3 || y >= 6;
                if (cx && cy) nine.Set(x, y, 0xFF0000FF);        // corners red
                if (!cx && !cy) nine.Set(x, y, 0x0000FFFF);      // centre blue
            }
        uitest::RgbaImage halfClear = SolidImage(10, 10, 0x00FF00FF);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 5; ++x) halfClear.Set(x, y, 0x00000000);
        uitest::RgbaImage masked = SolidImage(4, 4, 0x0000FFFF);
        masked.Set(0, 0, 0xFF00FFFF);
        std::string zip = uitest::BuildZip({
            {"red.png", uitest::EncodePng(SolidImage(4, 4, 0xFF0000FF))},
            {"nine.png", uitest::EncodePng(nine)},
            {"halfclear.png", uitest::EncodePng(halfClear)},
            {"masked.png", uitest::EncodePng(masked)},
            {"small.png", uitest::EncodePng(SolidImage(10, 10, 0x0000FFFF))},
            {"progress_bk.png", uitest::EncodePng(SolidImage(470, 30, 0x808080FF))},
            {"progress_fore.png", uitest::EncodePng(SolidImage(470, 30, 0x00FF00FF))},
            {"broken.png", "not a png at all"},
            {"two.png", uitest::EncodePng(SolidImage(10, 6, 0xFF0000FF))},
            {"two@2x.png", uitest::EncodePng(SolidImage(20, 12, 0x00FF00FF))},
        });
        CSkinResources::ReleaseSkinResources();
        CSkinResources::SetArchiveCopy(zip.data(), zip.size());
        ASSERT_TRUE(CSkinResources::SetResourceZipFromCopy());
    }
    void TearDown() override { CSkinResources::ReleaseSkinResources(); }

    bool Draw(Surface& s, const RECT& item, const wchar_t* desc, const wchar_t* modifier = nullptr) {
        RECT all = {0, 0, s.width(), s.height()};
        return DrawImageString(s.dc(), &host, item, all, desc, modifier);
    }

    CPaintHostUI host;
};

void ExpectNear(DWORD expected, DWORD actual, int tolerance, const char* where) {
    EXPECT_LE(std::abs(uitest::R(expected) - uitest::R(actual)), tolerance) << where << std::hex << " " << actual;
    EXPECT_LE(std::abs(uitest::G(expected) - uitest::G(actual)), tolerance) << where << std::hex << " " << actual;
    EXPECT_LE(std::abs(uitest::B(expected) - uitest::B(actual)), tolerance) << where << std::hex << " " << actual;
}

}  // namespace

// The bitmap for each scale: 1x at 96 dpi and below (only reduced), 2x at
// 192 and resampled from it above 96; without a 2x version 1x, which a "@2x"
// file in the current directory does not replace.
TEST_F(SkinImages, EachScaleGetsItsBitmap) {
    struct Case {
        const wchar_t* name;
        int dpi, width, height, madeFor;
    } const cases[] = {
        {L"two.png", 96, 10, 6, 96},   {L"two.png", 72, 8, 5, 72},    {L"two.png", 144, 15, 9, 144},
        {L"two.png", 192, 20, 12, 192}, {L"two.png", 240, 25, 15, 240}, {L"red.png", 192, 4, 4, 96},
    };
    ASSERT_TRUE(uitest::WriteFileBytes(L"red@2x.png", uitest::EncodePng(uitest::SolidImage(8, 8, 0x0000FFFF))));
    for (const Case& c : cases) {
        TImageInfo* image = LoadSkinImage(c.name, nullptr, 0, c.dpi);
        ASSERT_NE(nullptr, image);
        EXPECT_EQ(c.width, image->width) << c.dpi;
        EXPECT_EQ(c.height, image->height) << c.dpi;
        EXPECT_EQ(c.madeFor, image->dpi) << c.dpi;
        FreeImage(image);
    }
    DeleteFileW(L"red@2x.png");
}

TEST(ImageDecode, PremultipliesAlphaAndAppliesTheMask) {
    const unsigned char rgba[] = {
        200, 100, 50, 128,  // half transparent
        10,  20,  30, 255,  // opaque
        255, 0,   255, 255, // the mask colour
        9,   9,   9,   0,   // fully transparent
    };
    uint32_t out[4];
    EXPECT_TRUE(ConvertPixels(rgba, 4, 0xFFFF00FF, out));
    EXPECT_EQ(0x80643219u, out[0]);  // 200*128/255=100, 50, 25
    EXPECT_EQ(0xFF0A141Eu, out[1]);
    EXPECT_EQ(0u, out[2]);
    EXPECT_EQ(0u, out[3]);
    EXPECT_FALSE(ConvertPixels(rgba + 4, 1, 0, out));  // opaque only: no alpha
}

TEST(ImageDecode, DecodesPngIntoATopDownBitmap) {
    uitest::RgbaImage img = uitest::SolidImage(3, 2, 0x102030FF);
    img.Set(2, 1, 0xFF000080);
    std::string png = uitest::EncodePng(img);
    TImageInfo* info = DecodeImage(reinterpret_cast<const unsigned char*>(png.data()), png.size(), 0);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(3, info->width);
    EXPECT_EQ(2, info->height);
    EXPECT_TRUE(info->alpha);
    DIBSECTION ds;
    ASSERT_EQ(static_cast<int>(sizeof(ds)), GetObjectW(info->bitmap, sizeof(ds), &ds));
    const uint32_t* px = static_cast<const uint32_t*>(ds.dsBm.bmBits);
    EXPECT_EQ(0xFF102030u, px[0]);
    EXPECT_EQ(0x80800000u, px[5]);  // last pixel of the second row, premultiplied
    FreeImage(info);
    EXPECT_EQ(nullptr, DecodeImage(reinterpret_cast<const unsigned char*>("junk"), 4, 0));
}

TEST(ImagePlan, PartsSettingsAndParseStops) {
    RECT item = {100, 100, 200, 150};
    auto parts = PlanImageString(item, L"file='a.png' dest='0,0,10,10' file='b.png'", nullptr);
    ASSERT_EQ(2u, parts.size());
    EXPECT_EQ(L"a.png", parts[0].name);
    EXPECT_EQ(L"b.png", parts[1].name);
    EXPECT_EQ(110, parts[1].dest.right);  // the target carries over

    parts = PlanImageString(item, L"plain.png", nullptr);
    ASSERT_EQ(1u, parts.size());
    EXPECT_EQ(L"plain.png", parts[0].name);
    EXPECT_EQ(200, parts[0].dest.right);

    parts = PlanImageString(item, L"file='a.png' corner='1,2,3,4'", L"dest='0,0,500,20' source='1,1,2,2'");
    ASSERT_EQ(1u, parts.size());
    EXPECT_EQ(200, parts[0].dest.right);  // cut at the item's edge
    EXPECT_EQ(120, parts[0].dest.bottom);
    EXPECT_TRUE(parts[0].sourceSet);
    EXPECT_EQ(4, parts[0].corner.bottom);

    // After a closing quote only one blank continues the list.
    parts = PlanImageString(item, L"file='a.png'fade='10'", nullptr);
    EXPECT_EQ(255, parts.back().fade);
    parts = PlanImageString(item, L"file='a.png' fade=\"10\" hole='true'", nullptr);
    EXPECT_FALSE(parts.back().hole);
    parts = PlanImageString(item, L"file='a.png' dest='' hole='True' xtiled='true'", nullptr);
    EXPECT_EQ(200, parts.back().dest.right);  // empty value ignored
    EXPECT_FALSE(parts.back().hole);
    EXPECT_TRUE(parts.back().xtiled);
}

// Where each description draws: probes of the surface after one draw.
TEST_F(SkinImages, DescriptionsDrawWhereTheySay) {
    struct Probe {
        int x, y;
        DWORD rgb;
    };
    struct Case {
        const char* what;
        int w, h;
        RECT item;
        const wchar_t* desc;
        std::vector<Probe> probes;
    } const cases[] = {
        {"a dest wider than the item is cut at its edge", 50, 50, {10, 10, 30, 30}, L"file='red.png' dest='0,0,40,20'",
         {{10, 10, kRed}, {29, 29, kRed}, {30, 15, kWhite}, {15, 30, kWhite}}},
        // The left half of the second image is clear; its right half covers
        // the first; nothing outside the shared target.
        {"two files share one target", 40, 40, {0, 0, 40, 40},
         L"file='red.png' dest='10,10,20,20' file='halfclear.png'",
         {{12, 15, kRed}, {17, 15, kGreen}, {25, 15, kWhite}, {5, 5, kWhite}}},
        {"nine parts keep their corners unscaled", 40, 40, {5, 5, 35, 35}, L"file='nine.png' corner='3,3,3,3'",
         {{5, 5, kRed}, {7, 7, kRed}, {8, 5, kGreen}, {31, 6, kGreen}, {32, 7, kRed}, {34, 34, kRed}, {32, 32, kRed},
          {31, 33, kGreen}, {6, 20, kGreen}, {20, 20, kBlue}, {8, 8, kBlue}, {31, 31, kBlue}, {4, 4, kWhite},
          {35, 35, kWhite}}},
        {"a hole leaves the centre out", 40, 40, {5, 5, 35, 35}, L"file='nine.png' corner='3,3,3,3' hole='true'",
         {{20, 20, kWhite}, {5, 5, kRed}}},
        {"the mask colour loads transparent", 10, 10, {0, 0, 4, 4}, L"file='masked.png' mask='#FFFF00FF'",
         {{0, 0, kWhite}, {1, 0, kBlue}}},
        {"natural size, centred", 40, 40, {0, 0, 30, 30}, L"file='small.png' stretch='false' center='true'",
         {{9, 15, kWhite}, {10, 15, kBlue}, {19, 19, kBlue}, {20, 15, kWhite}}},
        {"the ratio kept: 20x20 centred in 40x20", 40, 40, {0, 0, 40, 20}, L"file='small.png' stretch='false'",
         {{9, 10, kWhite}, {10, 10, kBlue}, {30, 10, kWhite}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Surface s(c.w, c.h);
        ASSERT_TRUE(Draw(s, c.item, c.desc));
        for (const Probe& p : c.probes) EXPECT_EQ(p.rgb, s.Rgb(p.x, p.y)) << p.x << "," << p.y;
    }
}

TEST_F(SkinImages, FadeAndColourAlpha) {
    Surface s(30, 10);
    ASSERT_TRUE(Draw(s, RECT{0, 0, 10, 10}, L"file='red.png' fade='128'"));
    ExpectNear(0xFF7F7F, s.Rgb(5, 5), 4, "fade 128");
    render::DrawColor(s.dc(), RECT{10, 0, 20, 10}, 0x00FF0000);
    EXPECT_EQ(kWhite, s.Rgb(15, 5));
    render::DrawColor(s.dc(), RECT{20, 0, 30, 10}, 0x80000000);
    ExpectNear(0x7F7F7F, s.Rgb(25, 5), 4, "alpha 80");
    render::DrawColor(s.dc(), RECT{20, 0, 30, 10}, 0xFF0000FF);
    EXPECT_EQ(kBlue, s.Rgb(25, 5));
}

TEST_F(SkinImages, TwoImageProgressString) {
    Surface s(220, 40);
    const int width = 200;
    for (int filled : {80, 1, 199}) {
        s.Fill(kWhite);
        wchar_t desc[256];
        _snwprintf(desc, 256,
                   L"file='progress_bk.png' dest='0,0,%d,30' file='progress_fore.png' corner='0,15,5,15' "
                   L"dest='0,0,%d,30' ",
                   width, filled);
        ASSERT_TRUE(Draw(s, RECT{10, 5, 10 + width, 35}, desc));
        EXPECT_EQ(kGreen, s.Rgb(10, 20)) << filled;
        EXPECT_EQ(kGreen, s.Rgb(10 + filled - 1, 6)) << filled;
        EXPECT_EQ(kGreen, s.Rgb(10 + filled - 1, 33)) << filled;
        EXPECT_EQ(kGrey, s.Rgb(10 + filled, 20)) << filled;
        EXPECT_EQ(kGrey, s.Rgb(10 + width - 1, 20)) << filled;
        EXPECT_EQ(kWhite, s.Rgb(10 + width, 20)) << filled;
    }
}

TEST_F(SkinImages, UnloadableImagesFailAndAreClearedByTheControl) {
    Surface s(20, 20);
    EXPECT_FALSE(Draw(s, RECT{0, 0, 20, 20}, L"file='missing.png'"));
    EXPECT_FALSE(Draw(s, RECT{0, 0, 20, 20}, L"broken.png"));
    EXPECT_TRUE(Draw(s, RECT{0, 0, 20, 20}, L""));
    CControlUI c;
    c.Attach(&host, nullptr, false);
    c.SetPosition(RECT{0, 0, 20, 20});
    c.SetBkImage(L"file='missing.png'");
    c.SetBkColor(0xFF0000FF);
    c.Paint(s.dc(), RECT{0, 0, 20, 20});
    EXPECT_TRUE(c.GetBkImage().empty());
    EXPECT_EQ(kBlue, s.Rgb(10, 10));
}

TEST_F(SkinImages, ControlPaintsColourImageAndBorderInOrder) {
    Surface s(30, 30);
    CControlUI c;
    c.Attach(&host, nullptr, false);
    c.SetPosition(RECT{0, 0, 30, 30});
    c.SetProperty(L"bkcolor", L"#FF0000FF");
    c.SetProperty(L"bkimage", L"file='red.png' dest='10,10,20,20'");
    c.SetProperty(L"bordercolor", L"#FF00FF00");
    c.SetProperty(L"bordersize", L"2");
    c.Paint(s.dc(), RECT{0, 0, 30, 30});
    EXPECT_EQ(kGreen, s.Rgb(0, 0));
    EXPECT_EQ(kGreen, s.Rgb(29, 1));
    EXPECT_EQ(kBlue, s.Rgb(5, 5));
    EXPECT_EQ(kRed, s.Rgb(15, 15));
    // A border colour with alpha 00 draws nothing.
    s.Fill(kWhite);
    c.SetProperty(L"bkcolor", L"#00000000");
    c.SetProperty(L"bordercolor", L"#00C0C0C0");
    c.Paint(s.dc(), RECT{0, 0, 30, 30});
    EXPECT_EQ(kWhite, s.Rgb(0, 0));
}
