// The descriptors the installer builds for its own files and its staging
// folder, folders judged on descriptors as Windows 10/11 set them (files are
// judged in the launcher ini's tests, which use the same decision), and
// preparing the installer's files on the real file system with links of
// every kind Wine can make at their names.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "Runtime/FileSecurity.h"
#include "support/TestSupport.h"

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

const std::wstring kUser = L"S-1-5-21-3623811015-3361044348-30300820-1013";

bool Judge(const std::wstring& sddl, ProtectedObject what)
{
    const SecurityDescriptor sd = SecurityDescriptor::FromSddl(sddl);
    EXPECT_FALSE(sd.Empty()) << "bad SDDL in the test: " << testing::PrintToString(sddl);
    return OnlyAdministratorsCanChange(sd.Get(), what);
}

DWORD LinkCount(const std::wstring& path)
{
    HANDLE f = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool ok = f != INVALID_HANDLE_VALUE && GetFileInformationByHandle(f, &info);
    if (f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
    return ok ? info.nNumberOfLinks : 0;
}

}  // namespace

TEST(StagingFolderTrust, OnlyAFolderNobodyElseCanChangeOrFillIsTrusted)
{
    // A folder in C:\ProgramData inherits "Users may create files and
    // folders" (CI, 0x116), and CREATOR OWNER's full control becomes its
    // maker's: whoever made it first, a standard user or an installer that
    // set no descriptor, others can add to it.
    const std::wstring inherited = L"(A;OICIIOID;FA;;;CO)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)"
                                   L"(A;CIID;0x116;;;BU)";
    const std::wstring ours = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    struct Case {
        std::wstring sddl;
        bool asFolder, asFile;
        const char* what;
    } cases[] = {
        {L"O:BAG:SY" + ours, true, true, "the installer's own"},
        {L"O:SYG:SY" + ours, true, true, "owned by SYSTEM"},
        {L"O:BAG:SYD:P(A;OICIIO;FA;;;CO)(A;OICI;FA;;;BA)", true, true, "CREATOR OWNER's entry for what is made in it"},
        {L"O:" + kUser + L"G:SYD:AI(A;ID;FA;;;" + kUser + L")" + inherited, false, false, "a standard user made it"},
        {L"O:BAG:SYD:AI(A;ID;FA;;;BA)" + inherited, false, false, "an installer made it with no descriptor"},
        {L"O:BAG:SYD:P(A;;FA;;;BA)(A;;0x40;;;BU)", false, true, "Users may delete what is in it"},
        {L"O:BAG:SYD:P(A;;FA;;;BA)(A;;0x100;;;BU)", false, true, "Users may write its attributes"},
        {L"O:BAG:SYD:P(A;;FA;;;BA)(A;;0x10;;;BU)", false, true, "Users may write its extended attributes"},
        {L"O:BAG:SYD:P(A;;FA;;;BA)(A;OICIIO;FA;;;BU)", false, true, "what is made in it would be the users'"},
        {L"O:" + kUser + ours, false, false, "owned by a user, who may rewrite the DACL"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Judge(c.sddl, ProtectedObject::kFolder), c.asFolder) << c.what;
        EXPECT_EQ(Judge(c.sddl, ProtectedObject::kFile), c.asFile) << c.what;
    }
    // The descriptor the installer makes its staging folder with passes.
    EXPECT_TRUE(OnlyAdministratorsCanChange(StagingFolderSecurity().Get(), ProtectedObject::kFolder))
        << StagingFolderSecurity().ToSddl();
}

TEST(InstallerFileSecurity, OnlyAdministratorsCanChangeTheFilesTheInstallerWrites)
{
    const SecurityDescriptor& built = InstallerFileSecurity();
    ASSERT_FALSE(built.Empty());
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(built.Get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PRESENT);
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing may be inherited from a folder users can write to";

    // Owned by Administrators (the owner an elevated installer's files get,
    // and the one it sets on an existing file): nobody else may change it.
    const std::wstring dacl = built.ToSddl();
    EXPECT_TRUE(OnlyAdministratorsCanChange(SecurityDescriptor::FromSddl(L"O:BA" + dacl).Get())) << dacl;

    // Exactly three entries: SYSTEM and Administrators full control, Users
    // read and execute (the package must stay runnable and readable).
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(built.Get(), &present, &acl, &defaulted));
    ACL_SIZE_INFORMATION info = {};
    ASSERT_TRUE(GetAclInformation(acl, &info, sizeof info, AclSizeInformation));
    ASSERT_EQ(info.AceCount, 3u);
    struct Expected {
        WELL_KNOWN_SID_TYPE sid;
        ACCESS_MASK mask;
    } expected[] = {{WinLocalSystemSid, FILE_ALL_ACCESS},
                    {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
                    {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
    for (DWORD i = 0; i < 3; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(GetAce(acl, i, &raw));
        const ACCESS_ALLOWED_ACE* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, 0) << "no inheritance flags on a file's entries";
        EXPECT_TRUE(IsWellKnownSid(const_cast<DWORD*>(&ace->SidStart), expected[i].sid)) << i;
        EXPECT_EQ(ace->Mask, expected[i].mask) << i;
    }
}

TEST(InstallerFileSecurity, PreparingKeepsContentCreatesWhatIsMissingAndRefusesAFolder)
{
    TempDir dir;
    // A partial download keeps its bytes (it resumes from them).
    ASSERT_TRUE(WriteBytes(dir / L"pkg.yw", "partial"));
    EXPECT_TRUE(PrepareInstallerFile(dir / L"pkg.yw"));
    EXPECT_EQ(ReadBytes(dir / L"pkg.yw"), "partial");

    // A missing one is created empty.
    EXPECT_TRUE(PrepareInstallerFile(dir / L"ovinstall.ini"));
    EXPECT_TRUE(testsupport::PathExists(dir / L"ovinstall.ini"));
    EXPECT_EQ(ReadBytes(dir / L"ovinstall.ini"), "");

    // A directory in the way is not removed: that fails.
    ASSERT_TRUE(CreateDirectoryW((dir / L"busy.yw").c_str(), nullptr));
    EXPECT_FALSE(PrepareInstallerFile(dir / L"busy.yw"));
    EXPECT_EQ(GetFileAttributesW((dir / L"busy.yw").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST(InstallerFileSecurity, NoNameTheInstallerWritesWritesThroughALink)
{
    // At each name the installer opens for writing in the staging folder, a
    // hard link to someone's file and a link to a folder of theirs: the file
    // the installer then writes is its own, with one name, and what the links
    // pointed to is untouched. (Wine shows a Unix link to a file as the file
    // itself, so that kind is left to Windows; a hard link Wine makes real.)
    struct Name {
        const wchar_t* name;
        bool fresh;  // made new (the shipped package's copy), not kept for resuming
    } names[] = {{L"ovinstaller.exe.yw", false}, {L"ovinstall.ini", false}, {L"ovinstaller.exe", true}};
    for (const Name& n : names) {
        for (bool hard : {true, false}) {
            SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(n.name)) << (hard ? " hard" : " folder"));
            TempDir dir, victim;
            ASSERT_TRUE(WriteBytes(victim / L"keep.txt", "not yours"));
            const std::wstring at = dir / n.name;
            if (hard) {
                ASSERT_TRUE(CreateHardLinkW(at.c_str(), (victim / L"keep.txt").c_str(), nullptr));
                ASSERT_EQ(LinkCount(at), 2u);
            } else {
                ASSERT_TRUE(testsupport::MakeSymbolicLink(at, victim.Path()));
            }
            bool made = false;
            if (n.fresh) {
                HANDLE f = CreateFreshInstallerFile(at, GENERIC_WRITE);
                made = f != INVALID_HANDLE_VALUE;
                DWORD written = 0;
                if (made) {
                    EXPECT_TRUE(WriteFile(f, "ours", 4, &written, nullptr));
                    CloseHandle(f);
                }
            } else {
                made = PrepareInstallerFile(at) && WriteBytes(at, "ours");
            }
            EXPECT_EQ(ReadBytes(victim / L"keep.txt"), "not yours");
            if (hard) {
                ASSERT_TRUE(made) << "a hard link is a name the installer may delete";
                EXPECT_EQ(LinkCount(at), 1u);
                EXPECT_EQ(LinkCount(victim / L"keep.txt"), 1u);
            }
            if (made) {
                EXPECT_EQ(GetFileAttributesW(at.c_str()) & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY), 0u);
                EXPECT_EQ(ReadBytes(at), "ours");
            }
            EXPECT_FALSE(testsupport::PathExists(victim / L"ovinstall.ini"));
            EXPECT_FALSE(testsupport::PathExists(victim / L"ovinstaller.exe.yw"));
        }
    }
}
