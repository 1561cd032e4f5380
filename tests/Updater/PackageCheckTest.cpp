#include <gtest/gtest.h>

#include "Updater/PackageCheck.h"
#include "support/TestSupport.h"

using testsupport::TempDir;
using testsupport::WriteBytes;

TEST(PackageCheck, DigestsOfKnownInputs)
{
    TempDir dir;
    struct Case { std::string content; const wchar_t* md5; };
    const Case cases[] = {
        {"", L"d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
        {"The quick brown fox jumps over the lazy dog", L"9e107d9d372bb6826bd81d3542a419d6"},
        {std::string(1000000, 'a'), L"7707d6ae4e027c70eea2a935c2296f21"},  // spans chunk reads
    };
    for (const Case& c : cases) {
        const std::wstring path = dir / L"f.bin";
        ASSERT_TRUE(WriteBytes(path, c.content));
        std::wstring hex;
        ASSERT_TRUE(FileMd5(path, hex));
        EXPECT_EQ(hex, c.md5) << c.content.size() << " bytes";
    }
    std::wstring hex;
    EXPECT_FALSE(FileMd5(dir / L"missing.bin", hex));
}

TEST(PackageCheck, ComparisonRules)
{
    TempDir dir;
    const std::wstring path = dir / L"ovinstaller.exe.yw";
    ASSERT_TRUE(WriteBytes(path, "abc"));
    struct Case { const wchar_t* expected; PackageCheck result; };
    const Case cases[] = {
        {L"", PackageCheck::kNotChecked},
        {L"   ", PackageCheck::kNotChecked},
        {L"900150983cd24fb0d6963f7d28e17f72", PackageCheck::kMatch},
        {L"  900150983CD24FB0D6963F7D28E17F72\t", PackageCheck::kMatch},
        {L"900150983cd24fb0d6963f7d28e17f73", PackageCheck::kMismatch},
        {L"900150983cd24fb0d6963f7d28e17f7", PackageCheck::kMismatch},   // 31 digits
        {L"900150983cd24fb0d6963f7d28e17f72a", PackageCheck::kMismatch}, // 33 digits
        {L"900150983cd24fb0d6963f7d28e17fzz", PackageCheck::kMismatch},
        {L"9001 50983cd24fb0d6963f7d28e17f72", PackageCheck::kMismatch},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckPackageMd5(path, c.expected), c.result) << "[" << std::string(c.expected, c.expected + wcslen(c.expected)) << "]";

    EXPECT_EQ(CheckPackageMd5(dir / L"missing", L"900150983cd24fb0d6963f7d28e17f72"), PackageCheck::kUnreadable);
    EXPECT_EQ(CheckPackageMd5(dir / L"missing", L""), PackageCheck::kNotChecked);
}
