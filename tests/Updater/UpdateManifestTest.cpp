#include <gtest/gtest.h>
#include <windows.h>

#include <climits>

#include "Updater/UpdateManifest.h"
#include "support/TestSupport.h"

using testsupport::ReadBytes;
using testsupport::TempDir;

TEST(UpdateManifest, CopyIsUtf16WithByteOrderMarkAndReadsBack)
{
    TempDir dir;
    const std::wstring text =
        L"[Other]\r\nUrl=http://wrong/\r\n[Install]\r\nUrl=http://127.0.0.1:8080/ovinstaller.exe\r\n"
        L"Size=125829120\r\nMd5=0123456789abcdef0123456789ABCDEF\r\nVersion=澄岳 1.0.3\r\n";
    ASSERT_TRUE(SaveManifestCopy(dir.Path(), text));

    const std::string bytes = ReadBytes(dir / L"ovinstall.ini");
    ASSERT_EQ(bytes.size(), 2 + 2 * text.size());
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFE);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), text.size()), text);

    UpdateManifestValues v = ReadManifestValues(dir.Path());
    EXPECT_EQ(v.url, L"http://127.0.0.1:8080/ovinstaller.exe");
    EXPECT_EQ(v.sizeText, L"125829120");
    EXPECT_EQ(v.md5, L"0123456789abcdef0123456789ABCDEF");
    EXPECT_EQ(v.version, L"澄岳 1.0.3");
}

TEST(UpdateManifest, MissingKeysReadEmptyAndLongValuesAreCut)
{
    TempDir dir;
    const std::wstring longUrl = L"http://h/" + std::wstring(3000 - 9, L'a');
    ASSERT_TRUE(SaveManifestCopy(dir.Path(), L"[Install]\r\nUrl=" + longUrl + L"\r\nSize=1\r\n"));
    UpdateManifestValues v = ReadManifestValues(dir.Path());
    EXPECT_EQ(v.url, longUrl.substr(0, 2047));
    EXPECT_EQ(v.md5, L"");
    EXPECT_EQ(v.version, L"");

    // No copy at all: everything is empty.
    TempDir empty;
    v = ReadManifestValues(empty.Path());
    EXPECT_TRUE(v.url.empty() && v.sizeText.empty() && v.md5.empty() && v.version.empty());
}

TEST(UpdateManifest, ANewManifestReplacesTheCopyWhole)
{
    TempDir dir;
    ASSERT_TRUE(SaveManifestCopy(dir.Path(), L"[Install]\r\nUrl=http://a/long-first-name.exe\r\nMd5=abc\r\n"));
    ASSERT_TRUE(SaveManifestCopy(dir.Path(), L"[Install]\r\nUrl=http://b/x\r\n"));
    UpdateManifestValues v = ReadManifestValues(dir.Path());
    EXPECT_EQ(v.url, L"http://b/x");
    EXPECT_EQ(v.md5, L"");  // nothing of the first copy survives
}

TEST(UpdateManifest, AnUnwritableCopyLeavesTheEarlierValues)
{
    TempDir dir;
    ASSERT_TRUE(SaveManifestCopy(dir.Path(), L"[Install]\r\nUrl=http://old/\r\n"));
    // Another program holds the copy open without sharing (root ignores the
    // read-only attribute here, so a lock is the way to make it unwritable).
    const std::wstring path = dir / L"ovinstall.ini";
    HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SaveManifestCopy(dir.Path(), L"[Install]\r\nUrl=http://new/\r\n"));
    CloseHandle(lock);
    EXPECT_EQ(ReadManifestValues(dir.Path()).url, L"http://old/");

    // A directory that does not exist gets no copy and no values.
    EXPECT_FALSE(SaveManifestCopy(dir / L"missing", L"[Install]\r\nUrl=http://x/\r\n"));
    EXPECT_EQ(ReadManifestValues(dir / L"missing").url, L"");
}

TEST(UpdateManifest, SizeTextConversion)
{
    struct Case { const wchar_t* text; int64_t value; };
    const Case cases[] = {
        {L"125829120", 125829120}, {L"abc", 0},      {L" 42abc", 42},           {L"", 0},
        {L"-7", -7},               {L"+8", 8},       {L"99999999999999999999", LLONG_MAX},
        {L"-99999999999999999999", LLONG_MIN},       {L"4294967306", 4294967306LL},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseManifestSize(c.text), c.value) << "text [" << std::string(c.text, c.text + wcslen(c.text)) << "]";
}
