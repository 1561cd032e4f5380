// The skin archive reader over archives the test builds itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "UiTestSupport.h"
#include "ui/SkinResources.h"
#include "ui/ZipArchive.h"

using uitest::BuildZip;
using uitest::ZipItem;

namespace {

std::string Pattern(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + (i * 7 + i / 13) % 26);
    return s;
}

struct Archive {
    HZIP h;
    explicit Archive(const std::string& bytes)
        : h(OpenArchive(bytes.data(), static_cast<DWORD>(bytes.size()), ZIP_MEMORY)) {}
    ~Archive() {
        if (h) CloseArchive(h);
    }
};

std::string Extract(HZIP h, const wchar_t* name, DWORD* result) {
    int index = -1;
    ZipEntry entry;
    *result = FindArchiveItem(h, name, &index, &entry);
    if (*result != ZR_OK) return std::string();
    std::string out(entry.uncompressedSize, '\0');
    *result = ExtractArchiveItem(h, index, out.empty() ? nullptr : &out[0], entry.uncompressedSize);
    return out;
}

}  // namespace

TEST(ZipArchive, FindsAndExtractsDeflatedAndStoredEntries) {
    const std::string big = Pattern(50000);
    Archive a(BuildZip({{"input.png", big, true}, {"MessageBox.xml", "<Window/>", false}, {"empty.txt", "", true}}));
    ASSERT_NE(nullptr, a.h) << std::hex << LastArchiveResult();
    DWORD r;
    EXPECT_EQ(big, Extract(a.h, L"INPUT.PNG", &r));
    EXPECT_EQ(ZR_OK, r);
    EXPECT_EQ("<Window/>", Extract(a.h, L"messagebox.XML", &r));
    EXPECT_EQ(ZR_OK, r);
    EXPECT_EQ("", Extract(a.h, L"empty.txt", &r));
    EXPECT_EQ(ZR_OK, r);

    int index = -1;
    ZipEntry entry;
    ASSERT_EQ(ZR_OK, FindArchiveItem(a.h, L"Input.png", &index, &entry));
    EXPECT_EQ(0, index);
    EXPECT_EQ(L"input.png", entry.name);
    EXPECT_EQ(big.size(), entry.uncompressedSize);

    // A short buffer is filled and reports that more data remains.
    std::string part(100, '\0');
    EXPECT_EQ(ZR_MORE, ExtractArchiveItem(a.h, index, &part[0], 100));
    EXPECT_EQ(big.substr(0, 100), part);
}

TEST(ZipArchive, ResultCodesForBadRequests) {
    Archive a(BuildZip({{"a.txt", "hello", true}}));
    ASSERT_NE(nullptr, a.h);
    int index = 7;
    ZipEntry entry;
    EXPECT_EQ(ZR_NOTFOUND, FindArchiveItem(a.h, L"missing.png", &index, &entry));
    EXPECT_EQ(-1, index);
    EXPECT_EQ(ZR_NOTFOUND, LastArchiveResult());
    char buf[8];
    EXPECT_EQ(ZR_ARGS, FindArchiveItem(nullptr, L"a.txt", &index, &entry));
    EXPECT_EQ(ZR_ARGS, ExtractArchiveItem(nullptr, 0, buf, sizeof(buf)));
    EXPECT_EQ(ZR_ARGS, CloseArchive(nullptr));
    EXPECT_EQ(ZR_ARGS, ExtractArchiveItem(a.h, 5, buf, sizeof(buf)));
    EXPECT_EQ(ZR_ARGS, ExtractArchiveItem(a.h, -1, buf, sizeof(buf)));
    ArchiveHandle wrongKind;
    wrongKind.kind = 2;
    EXPECT_EQ(ZR_ZMODE, FindArchiveItem(&wrongKind, L"a.txt", &index, &entry));
    EXPECT_EQ(nullptr, OpenArchive(nullptr, 10, ZIP_MEMORY));
    EXPECT_EQ(ZR_ARGS, LastArchiveResult());
    EXPECT_EQ(nullptr, OpenArchive(L"Z:\\no\\such\\skin.zip", 0, ZIP_FILENAME));
    EXPECT_EQ(ZR_NOFILE, LastArchiveResult());
}

TEST(ZipArchive, TruncatedArchivesAreRefusedWithACode) {
    const std::string zip = BuildZip({{"a.txt", Pattern(3000), true}, {"b.txt", "bbb", false}});
    for (size_t cut : {size_t(0), size_t(10), zip.size() / 2, zip.size() - 23, zip.size() - 1}) {
        std::string t = zip.substr(0, cut);
        HZIP h = OpenArchive(t.data(), static_cast<DWORD>(t.size()), ZIP_MEMORY);
        EXPECT_EQ(nullptr, h) << cut;
        EXPECT_EQ(ZR_CORRUPT, LastArchiveResult()) << cut;
        if (h) CloseArchive(h);
    }
}

TEST(ZipArchive, DamagedEntriesGiveClearCodes) {
    const std::string payload = Pattern(3000);
    const std::string zip = BuildZip({{"a.txt", payload, true}, {"b.txt", "stored data", false}});
    const std::string centralEntry("\x50\x4b\x01\x02", 4);
    struct Case {
        const char* what;
        const wchar_t* entry;
        std::function<void(std::string&)> damage;
        bool flateToo;  // the inflater may see it first
    } const cases[] = {
        {"garbage inside the deflate stream", L"a.txt",
         [](std::string& z) { std::fill(z.begin() + 40, z.begin() + 60, static_cast<char>(0xFF)); }, true},
        {"a changed byte of stored data fails the checksum", L"b.txt",
         [](std::string& z) { z[z.find("stored data")] = 'S'; }, false},
        {"a local header offset pointing past the data", L"b.txt",
         [&](std::string& z) { z[z.rfind(centralEntry) + 42 + 3] = 0x7F; }, false},
        {"a declared size larger than what the stream holds", L"a.txt",
         [&](std::string& z) { z[z.find(centralEntry) + 24 + 2] = 0x01; }, false},  // uncompressed size += 64 KiB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bad = zip;
        c.damage(bad);
        Archive a(bad);
        ASSERT_NE(nullptr, a.h);
        DWORD r;
        Extract(a.h, c.entry, &r);
        EXPECT_TRUE(r == ZR_CORRUPT || (c.flateToo && r == ZR_FLATE)) << std::hex << r;
    }
}

TEST(ZipArchive, OpensFilesAndServesTheResourceZip) {
    const std::string zip = BuildZip({{"skin/x.txt", "xyz", true}});
    const std::wstring path = uitest::TempPath(L"ov_ui_zip_test.zip");
    ASSERT_TRUE(uitest::WriteFileBytes(path, zip));
    HZIP h = OpenArchive(path.c_str(), 0, ZIP_FILENAME);
    ASSERT_NE(nullptr, h);
    DWORD r;
    EXPECT_EQ("xyz", Extract(h, L"SKIN\\X.TXT", &r));
    CloseArchive(h);
    DeleteFileW(path.c_str());

    CSkinResources::ReleaseSkinResources();
    CSkinResources::SetArchiveCopy(zip.data(), zip.size());
    ASSERT_TRUE(CSkinResources::SetResourceZipFromCopy());
    EXPECT_EQ(L"membuffer", CSkinResources::ResourceZip());
    std::vector<unsigned char> out;
    EXPECT_EQ(CSkinResources::kReadOk, CSkinResources::ReadZipEntry(L"skin/x.txt", out, 100));
    EXPECT_EQ(3u, out.size());
    EXPECT_EQ(CSkinResources::kReadNotFound, CSkinResources::ReadZipEntry(L"nope", out, 100));
    EXPECT_EQ(CSkinResources::kReadTooLarge, CSkinResources::ReadZipEntry(L"skin/x.txt", out, 2));
    CSkinResources::ReleaseSkinResources();
    EXPECT_TRUE(CSkinResources::ResourceZip().empty());
}
