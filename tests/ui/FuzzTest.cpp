// Robustness: seeded random damage to archives, image strings and PNG files
// must give results codes or nothing drawn, never a crash or a hang. Each test
// stops after a fixed number of cases or about eight seconds.

#include <gtest/gtest.h>

#include <random>

#include "UiTestSupport.h"
#include "campaign/Mutators.h"
#include "ui/ImageLoader.h"
#include "ui/ImageString.h"
#include "ui/PaintHost.h"
#include "ui/SkinResources.h"
#include "ui/ZipArchive.h"

namespace {

const DWORD kBudgetMs = 8000;

std::string Text(size_t n, unsigned seed) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + (i * seed + i / 7) % 26);
    return s;
}

}  // namespace

TEST(Fuzz, MutatedArchives) {
    const std::string zip = uitest::BuildZip({{"InstallPackages.xml", Text(4000, 3), true},
                                              {"input.png", Text(900, 5), false},
                                              {"a/b.png", Text(20000, 11), true}});
    std::mt19937 rng(20240601);
    const DWORD start = GetTickCount();
    int opened = 0, cases = 0;
    std::vector<char> buffer;
    for (; cases < 4000 && GetTickCount() - start < kBudgetMs; ++cases) {
        std::string bad = campaign::MutateBytes(zip, rng);
        HZIP h = OpenArchive(bad.data(), static_cast<DWORD>(bad.size()), ZIP_MEMORY);
        if (!h) {
            EXPECT_NE(ZR_OK, LastArchiveResult());
            continue;
        }
        ++opened;
        for (const wchar_t* name : {L"installpackages.xml", L"INPUT.PNG", L"a/b.png"}) {
            int index = -1;
            ZipEntry entry;
            if (FindArchiveItem(h, name, &index, &entry) != ZR_OK) continue;
            // Declared sizes may be absurd: read at most 1 MiB of them.
            DWORD size = entry.uncompressedSize < (1u << 20) ? entry.uncompressedSize : (1u << 20);
            buffer.assign(size + 1, 0);
            DWORD r = ExtractArchiveItem(h, index, buffer.data(), size);
            EXPECT_TRUE(r == ZR_OK || r == ZR_MORE || r == ZR_CORRUPT || r == ZR_FLATE || r == ZR_UNSUPPORTED)
                << std::hex << r;
        }
        EXPECT_EQ(ZR_OK, CloseArchive(h));
    }
    EXPECT_GT(cases, 500);
    EXPECT_GT(opened, 0);
}

TEST(Fuzz, RandomImageStrings) {
    const std::string zip = uitest::BuildZip({{"a.png", uitest::EncodePng(uitest::SolidImage(8, 8, 0xFF0000FF))},
                                              {"b.png", uitest::EncodePng(uitest::SolidImage(3, 5, 0x00FF0080))}});
    CSkinResources::ReleaseSkinResources();
    CSkinResources::SetArchiveCopy(zip.data(), zip.size());
    ASSERT_TRUE(CSkinResources::SetResourceZipFromCopy());
    CPaintHostUI host;
    uitest::Surface s(64, 64);
    const wchar_t* const tokens[] = {L"file", L"res", L"restype", L"dest", L"rdest", L"source", L"corner",
                                     L"centerrect", L"mask", L"fade", L"hole", L"xtiled", L"ytiled", L"stretch",
                                     L"center", L"aligntop", L"alignleft", L"roundcorner", L"=", L"'", L" ",
                                     L"a.png", L"b.png", L"true", L"-5", L"0", L"999999", L"3,3,3,3",
                                     L"-10,-10,100,100", L"2147483647", L",", L"#FF00FF00", L"x"};
    std::mt19937 rng(77);
    const DWORD start = GetTickCount();
    int cases = 0;
    for (; cases < 4000 && GetTickCount() - start < kBudgetMs; ++cases) {
        std::wstring desc, mod;
        int n = static_cast<int>(rng() % 24);
        for (int i = 0; i < n; ++i) desc += tokens[rng() % (sizeof(tokens) / sizeof(tokens[0]))];
        if (rng() % 3 == 0) {
            // Well-formed pairs with random values exercise the drawing paths.
            desc = L"file='a.png' dest='" + std::to_wstring(static_cast<int>(rng() % 200) - 100) + L"," +
                   std::to_wstring(static_cast<int>(rng() % 200) - 100) + L"," +
                   std::to_wstring(static_cast<int>(rng() % 300) - 100) + L",40' corner='" +
                   std::to_wstring(rng() % 20) + L",1,2," + std::to_wstring(rng() % 20) + L"' xtiled='" +
                   ((rng() & 1) ? L"true" : L"false") + L"' ytiled='true' source='" + std::to_wstring(rng() % 10) +
                   L",0,30,3' fade='" + std::to_wstring(rng() % 300) + L"'";
        }
        if (rng() & 1) mod = L"dest='" + std::to_wstring(rng() % 70) + L",0,5,5' file='b.png'";
        RECT item = {static_cast<LONG>(rng() % 40) - 10, static_cast<LONG>(rng() % 40) - 10, static_cast<LONG>(rng() % 70),
                     static_cast<LONG>(rng() % 70)};
        RECT paint = {0, 0, 64, 64};
        DrawImageString(s.dc(), &host, item, paint, desc.c_str(), mod.empty() ? nullptr : mod.c_str());
    }
    EXPECT_GT(cases, 500);
    CSkinResources::ReleaseSkinResources();
}

TEST(Fuzz, MutatedPngFiles) {
    uitest::RgbaImage img = uitest::SolidImage(24, 17, 0x336699C0);
    for (int i = 0; i < 24; ++i) img.Set(i, i % 17, 0xFF00FF00 | static_cast<uint32_t>(i));
    const std::string png = uitest::EncodePng(img);
    std::mt19937 rng(4242);
    const DWORD start = GetTickCount();
    int cases = 0, decoded = 0;
    for (; cases < 4000 && GetTickCount() - start < kBudgetMs; ++cases) {
        std::string bad = campaign::MutateBytes(png, rng);
        TImageInfo* info = DecodeImage(reinterpret_cast<const unsigned char*>(bad.data()), bad.size(), 0xFFFF00FF);
        if (info) {
            ++decoded;
            EXPECT_GT(info->width, 0);
            EXPECT_GT(info->height, 0);
            FreeImage(info);
        }
    }
    EXPECT_GT(cases, 500);
    EXPECT_GT(decoded, 0);
}
