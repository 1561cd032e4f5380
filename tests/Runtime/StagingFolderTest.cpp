// The staging folder found or made on the real file system, with the
// descriptors Windows 10/11 would give an existing folder (Wine keeps none).

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "Runtime/StagingFolder.h"
#include "support/TestSupport.h"

using testsupport::PathExists;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

// What the reader gives for an existing folder.
std::wstring g_sddl;
int g_reads = 0;

SecurityDescriptor TestDescriptor(HANDLE)
{
    ++g_reads;
    return SecurityDescriptor::FromSddl(g_sddl);
}

const wchar_t kOurs[] = L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const wchar_t kUsers[] =
    L"O:S-1-5-21-3623811015-3361044348-30300820-1013G:SYD:AI(A;ID;FA;;;S-1-5-21-3623811015-3361044348-30300820-1013)"
    L"(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)(A;CIID;0x116;;;BU)";

}  // namespace

TEST(StagingFolder, TheNamedFolderIsUsedOnlyWhenNobodyElseCanChangeItElseOneIsMadeForTheRun)
{
    enum Before { kNothing, kFolder, kFile, kLink };
    struct Case {
        const char* what;
        Before before;
        const wchar_t* sddl;
        bool named;  // the named folder is used
    } cases[] = {
        {"missing: made", kNothing, kOurs, true},
        {"the installer's own from an earlier run: used, its partial download resumes", kFolder, kOurs, true},
        {"a standard user made it first", kFolder, kUsers, false},
        {"a file at the name", kFile, kOurs, false},
        {"a link at the name", kLink, kOurs, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir parent, elsewhere;
        const std::wstring named = parent / L"OrvelSetup";
        if (c.before == kFolder) {
            ASSERT_TRUE(CreateDirectoryW(named.c_str(), nullptr));
            ASSERT_TRUE(WriteBytes(named + L"\\ovinstaller.exe.yw", "partial"));
        } else if (c.before == kFile) {
            ASSERT_TRUE(WriteBytes(named, "x"));
        } else if (c.before == kLink) {
            ASSERT_TRUE(testsupport::MakeSymbolicLink(named, elsewhere.Path()));
        }
        g_sddl = c.sddl;
        g_reads = 0;
        {
            StagingFolder folder;
            ASSERT_TRUE(folder.Prepare(parent.Path(), L"OrvelSetup", &TestDescriptor));
            EXPECT_EQ(folder.Path() == named, c.named) << testing::PrintToString(folder.Path());
            EXPECT_EQ(folder.ForThisRunOnly(), !c.named);
            // (Wine opens a link's target when the folder is held, so there
            // the link is judged too before the path check finds it.)
            if (c.before != kLink) {
                EXPECT_EQ(g_reads, c.before == kFolder ? 1 : 0) << "only a folder someone may have made first is judged";
            }
            if (!c.named) {
                EXPECT_EQ(folder.Path().compare(0, named.size() + 1, named + L"-"), 0);
                EXPECT_EQ(folder.Path().size(), named.size() + 9);
                ASSERT_TRUE(WriteBytes(folder.Path() + L"\\ovinstall.ini", "record"));
            }
            EXPECT_EQ(PathExists(named + L"\\ovinstaller.exe.yw"), c.before == kFolder);
            const std::wstring made = folder.Path();
            folder.Release();
            EXPECT_EQ(PathExists(made), c.named) << "a folder made for the run goes with its files";
        }
        EXPECT_EQ(GetFileAttributesW(named.c_str()) != INVALID_FILE_ATTRIBUTES, c.before != kNothing || c.named);
        EXPECT_FALSE(PathExists(elsewhere / L"ovinstall.ini")) << "nothing went through the link";
    }
}

TEST(StagingFolder, ALinkAboveOrAMissingParentGivesNoFolder)
{
    TempDir dir, elsewhere;
    ASSERT_TRUE(testsupport::MakeSymbolicLink(dir / L"ProgramData", elsewhere.Path()));
    g_sddl = kOurs;
    StagingFolder folder;
    EXPECT_FALSE(folder.Prepare(dir / L"ProgramData", L"OrvelSetup", &TestDescriptor));
    EXPECT_FALSE(folder.Prepare(dir / L"missing", L"OrvelSetup", &TestDescriptor));
    EXPECT_FALSE(folder.Ready());
    EXPECT_FALSE(PathExists(elsewhere / L"OrvelSetup"));
}
