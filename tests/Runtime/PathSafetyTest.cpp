// Links on the package directory's path, on the real file system (Wine shows
// Unix symbolic links as reparse points).

#include <gtest/gtest.h>
#include <windows.h>

#include "Runtime/PathSafety.h"
#include "Runtime/StagingFolder.h"
#include "support/TestSupport.h"

using testsupport::MakeSymbolicLink;
using testsupport::TempDir;
using testsupport::WriteBytes;

TEST(PathSafety, ALinkOrAFileAnywhereOnThePathIsFoundWhereItIs)
{
    TempDir dir, elsewhere;
    ASSERT_TRUE(CreateDirectoryW((dir / L"real").c_str(), nullptr));
    ASSERT_TRUE(MakeSymbolicLink(dir / L"link", elsewhere.Path()));
    ASSERT_TRUE(WriteBytes(dir / L"file", "x"));
    struct Case {
        std::wstring path;
        PathVerdict verdict;
        std::wstring at;
    } cases[] = {
        {dir / L"real\\欧维网络\\欧维澄岳", PathVerdict::kSafe, L""},  // the missing rest is not looked at
        {dir / L"real", PathVerdict::kSafe, L""},
        {dir / L"link\\欧维网络\\欧维澄岳", PathVerdict::kLink, dir / L"link"},
        {dir / L"link", PathVerdict::kLink, dir / L"link"},
        {dir / L"real\\..\\link\\x", PathVerdict::kLink, dir / L"link"},  // as the system resolves it
        {dir / L"file\\sub", PathVerdict::kFileInTheWay, dir / L"file"},
        {dir / L"file", PathVerdict::kFileInTheWay, dir / L"file"},
        // Wine's drive letters are Unix symbolic links and Z:\ shows as one; a
        // volume's root can be nothing else than the volume.
        {L"Z:\\", PathVerdict::kSafe, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        const PathCheck check = CheckPathForLinks(c.path);
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(check.at, c.at);
    }
}

TEST(PathSafety, OnlyADirectoryIsPinned)
{
    // (Whether the pin holds a link itself, and keeps the folders above it
    // from being renamed, only Windows can show: Wine follows the link when
    // opening it and enforces no sharing on folders.)
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"file", "x"));
    DirectoryPin pin;
    EXPECT_FALSE(pin.Pin(dir / L"file"));
    EXPECT_FALSE(pin.Pin(dir / L"missing"));
    EXPECT_FALSE(pin.Pinned());
    EXPECT_TRUE(pin.Pin(dir.Path()));
    EXPECT_TRUE(pin.Pinned());
    pin.Release();
    EXPECT_FALSE(pin.Pinned());
}

TEST(PathSafety, ALinkAboveTheStagingFolderGivesNoFolderAtAll)
{
    // (Links, mount points and planted folders at its name: hardening_tests.)
    TempDir dir, elsewhere;
    ASSERT_TRUE(MakeSymbolicLink(dir / L"ProgramData", elsewhere.Path()));
    StagingFolder folder;
    EXPECT_FALSE(folder.Prepare(dir / L"ProgramData", L"OrvelSetup", nullptr));
    EXPECT_FALSE(folder.Prepare(dir / L"missing", L"OrvelSetup", nullptr));
    EXPECT_FALSE(testsupport::PathExists(elsewhere / L"OrvelSetup"));
    ASSERT_TRUE(folder.Prepare(dir.Path(), L"OrvelSetup", nullptr));
    EXPECT_EQ(folder.Path(), dir / L"OrvelSetup");
}
