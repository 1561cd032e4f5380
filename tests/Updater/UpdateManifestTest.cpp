#include <gtest/gtest.h>
#include <windows.h>

#include <climits>

#include "Updater/UpdateManifest.h"
#include "support/TestSupport.h"

using testsupport::ReadBytes;
using testsupport::TempDir;

TEST(UpdateManifest, TheCopyIsUtf16WithAByteOrderMarkAndEachNewOneReplacesItWhole)
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

    // Missing keys read empty, long values are cut.
    const std::wstring longUrl = L"http://h/" + std::wstring(3000 - 9, L'a');
    ASSERT_TRUE(SaveManifestCopy(dir.Path(), L"[Install]\r\nUrl=" + longUrl + L"\r\nSize=1\r\n"));
    v = ReadManifestValues(dir.Path());
    EXPECT_EQ(v.url, longUrl.substr(0, 2047));
    EXPECT_EQ(v.md5, L"");
    EXPECT_EQ(v.version, L"");

    // A shorter copy leaves nothing of the longer one behind it.
    ASSERT_TRUE(SaveManifestCopy(dir.Path(), L"[Install]\r\nUrl=http://b/x\r\n"));
    v = ReadManifestValues(dir.Path());
    EXPECT_EQ(v.url, L"http://b/x");
    EXPECT_EQ(v.sizeText, L"");
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
    const UpdateManifestValues none = ReadManifestValues(dir / L"missing");
    EXPECT_TRUE(none.url.empty() && none.sizeText.empty() && none.md5.empty() && none.version.empty());
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

// The installer reads its values from the received text; every manifest must
// read as the platform's profile reader read the copy before.
namespace {

void ExpectSameAsProfileReader(const std::wstring& dir, const std::wstring& text, const std::string& label)
{
    ASSERT_TRUE(SaveManifestCopy(dir, text));
    const UpdateManifestValues reader = ReadManifestValues(dir);
    const UpdateManifestValues parsed = ParseManifestValues(text);
    EXPECT_TRUE(reader.url == parsed.url) << label << " Url";
    EXPECT_TRUE(reader.sizeText == parsed.sizeText) << label << " Size";
    EXPECT_TRUE(reader.md5 == parsed.md5) << label << " Md5";
    EXPECT_TRUE(reader.version == parsed.version) << label << " Version";
    EXPECT_TRUE(reader.expires == parsed.expires) << label << " Expires";
    for (int m = 0; m < kMirrorKeys; ++m)
        EXPECT_TRUE(reader.mirrors[m] == parsed.mirrors[m]) << label << " Url" << m + 2;
}

}  // namespace

TEST(UpdateManifest, ParsedValuesMatchTheProfileReader)
{
    TempDir dir;
    const std::wstring longValue(3000, L'v');
    const std::wstring cases[] = {
        L"[Install]\r\nUrl=http://a/\r\nSize=12\r\nMd5=ab\r\nVersion=1\r\n",
        L"[install]\nURL = http://a/b \nsize\t=\t7\nMD5=x\nversion= 2 ",
        L"\r\n\r\n  [Install]  \r\n  Url  =  spaced value  \r\n",
        L"[ Install ]\r\nUrl=http://padded-section/\r\n",
        L"[Install] trailing\r\nUrl=http://a/\r\n",
        L"[Install]]\r\nUrl=http://a/\r\n[Install\r\nUrl=http://b/\r\n",
        L"Url=http://before-any-section/\r\n[Install]\r\nSize=3\r\n",
        L"[Install]\r\nUrl=first\r\nUrl=second\r\nSize\r\nSize=4\r\n",
        L"[Install]\r\nSize=1\r\n[Other]\r\nUrl=other\r\n[Install]\r\nUrl=second-section\r\n",
        L"[Other]\r\nUrl=x\r\n[INSTALL]\r\nUrl=upper-section\r\n",
        L"[Install]\r\nUrl=\"http://quoted/\"\r\nSize='5'\r\nMd5=\"unbalanced'\r\nVersion=\"\r\n",
        L"[Install]\r\nUrl=\"\"\r\nSize=''\r\nMd5=\"a\"b\"\r\nVersion= \" spaced \" \r\n",
        L"[Install]\rUrl=cr-only\rSize=6\r",
        L"[Install]\n\n\nUrl=lf\n\r\n\rSize=7",
        L"[Install]\r\nUrl=a=b=c\r\n=empty name\r\nMd5==\r\n",
        L"[Install]\r\n;Url=comment\r\nUrl=after comment\r\n",
        L"[Install]\r\nUrl=" + longValue + L"\r\nVersion=\"" + longValue + L"\"\r\n",
        L"[Install]\r\nUrl=\"" + std::wstring(2046, L'q') + L"\"\r\nSize=\"" + std::wstring(2047, L'q') + L"\"\r\n",
        L"[Install]\r\nUrl=\x1a value with ^Z \x1a\r\n\x1aSize=8\r\n",
        L"[Install]\r\nUrl=tab\tinside\r\n\tSize\t=\t9\t\r\n",
        L"[Install]\r\nVersion=澄岳 1.0 版本\r\nUrl=http://例え.jp/\r\n",
        L"",
        L"[Install]",
        L"no section at all\r\nUrl=x\r\n",
        L"[]\r\nUrl=x\r\n[Install]\r\n",
        L"[Install]\r\nurl9=nine\r\nUrl2 = two\r\nURL3=\"three\"\r\nUrl10=ten\r\nUrl2=again\r\n",
    };
    int i = 0;
    for (const std::wstring& text : cases)
        ExpectSameAsProfileReader(dir.Path(), text, "case " + std::to_string(i++));
}

TEST(UpdateManifest, RandomManifestsReadAsTheProfileReaderReadsThem)
{
    // Manifests built from the pieces that matter to the reader, in random
    // order and number; a fixed seed keeps a failure repeatable.
    const std::wstring pieces[] = {
        L"[Install]", L"[install]", L"[Other]", L"[ Install]", L"[Install] x", L"[", L"]", L"Url", L"URL", L"url ",
        L"Size", L"Md5", L"Version", L"Expires", L"=", L"==", L" ", L"\t", L"\r\n", L"\n", L"\r", L"\"", L"'", L"http://x/",
        L"42", L";", L"\x1a", L"\u00a0", L"\u3000", L"版", L"\u2028", L"a",
    };
    const size_t count = sizeof pieces / sizeof pieces[0];
    TempDir dir;
    uint32_t state = 20240601;
    for (int round = 0; round < 400; ++round) {
        std::wstring text;
        const int length = 5 + static_cast<int>((state >> 8) % 40);
        for (int i = 0; i < length; ++i) {
            state = state * 1664525u + 1013904223u;
            text += pieces[(state >> 16) % count];
        }
        ExpectSameAsProfileReader(dir.Path(), text, "round " + std::to_string(round));
        if (HasFailure())
            break;
    }
}

TEST(UpdateManifest, AByteOrderMarkAtTheStartIsSkipped)
{
    // The one deliberate difference: a manifest saved as UTF-8 with a byte
    // order mark (decoded to U+FEFF) reads its values; the profile reader saw
    // a first line that was no section header.
    const UpdateManifestValues v = ParseManifestValues(L"\xFEFF[Install]\r\nUrl=http://bom/\r\nVersion=3\r\n");
    EXPECT_EQ(v.url, L"http://bom/");
    EXPECT_EQ(v.version, L"3");
    // Only at the very start.
    EXPECT_EQ(ParseManifestValues(L"[Install]\r\n\xFEFFUrl=x\r\n").url, L"");
}

TEST(UpdateManifest, PackageAddressesStopAtTheFirstGap)
{
    // Url comes first even when empty, as it always did; an empty Url4 is a gap like a missing one.
    const std::wstring text = L"[Install]\r\nUrl3=c\r\nUrl2=b\r\nUrl4=\r\nUrl5=e\r\n";
    EXPECT_EQ(PackageUrls(ParseManifestValues(text)), (std::vector<std::wstring>{L"", L"b", L"c"}));
}
