// The descriptor the installer builds for its own files, and preparing such a
// file on the real file system. (Descriptors as Windows 10/11 set them are
// judged in the launcher ini's tests, which use the same decisions.)

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "Runtime/FileSecurity.h"
#include "support/TestSupport.h"

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

TEST(StagingFolderTrust, OnlyAFolderNobodyElseCanChangeOrFillIsTrusted)
{
    // What a folder made in C:\ProgramData inherits: Users may add files and
    // folders (CI 0x116), CREATOR OWNER's full control becomes the maker's.
    const std::wstring inherited = L"(A;OICIIOID;FA;;;CO)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x116;;;BU)";
    const std::wstring user = L"S-1-5-21-3623811015-3361044348-30300820-1013";
    struct Case {
        std::wstring sddl;
        bool asFolder, asFile;
    } cases[] = {
        {StagingFolderSecurity().ToSddl(), true, true},  // the installer's own
        {L"O:SYD:P(A;OICIIO;FA;;;CO)(A;OICI;FA;;;BA)", true, true},
        {L"O:" + user + L"D:AI(A;ID;FA;;;" + user + L")" + inherited, false, false},  // a standard user made it
        {L"O:BAD:AI(A;ID;FA;;;BA)" + inherited, false, false},  // an installer that set no descriptor
        {L"O:BAD:P(A;;FA;;;BA)(A;;0x40;;;BU)", false, true},  // delete what is in it
        {L"O:BAD:P(A;;FA;;;BA)(A;;0x100;;;BU)", false, true},  // write its attributes (a reparse point)
        {L"O:BAD:P(A;;FA;;;BA)(A;OICIIO;FA;;;BU)", false, true},  // what is made in it would be the users'
    };
    for (const Case& c : cases) {
        const SecurityDescriptor sd = SecurityDescriptor::FromSddl(c.sddl);  // (empty: judged unsafe)
        EXPECT_EQ(OnlyAdministratorsCanChange(sd.Get(), ProtectedObject::kFolder), c.asFolder) << sd.ToSddl();
        EXPECT_EQ(OnlyAdministratorsCanChange(sd.Get(), ProtectedObject::kFile), c.asFile) << sd.ToSddl();
    }
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

TEST(InstallerFileSecurity, PreparingKeepsContentCreatesWhatIsMissingAndReplacesALink)
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

    // A link planted at the name is never written through: on Windows the
    // link goes and a plain file takes its place; Wine cannot remove a Unix
    // link to a folder, so there the name is refused. (A folder link: Wine
    // shows its links to files as the files themselves.)
    TempDir victim;
    ASSERT_TRUE(WriteBytes(victim / L"keep.txt", "not yours"));
    ASSERT_TRUE(testsupport::MakeSymbolicLink(dir / L"link.yw", victim.Path()));
    const DWORD linkAttrs = GetFileAttributesW((dir / L"link.yw").c_str());
    ASSERT_NE(linkAttrs & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    if (PrepareInstallerFile(dir / L"link.yw")) {
        EXPECT_EQ(GetFileAttributesW((dir / L"link.yw").c_str()) &
                      (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY),
                  0u);
        EXPECT_EQ(ReadBytes(dir / L"link.yw"), "");
    } else {
        EXPECT_EQ(GetFileAttributesW((dir / L"link.yw").c_str()), linkAttrs);
    }
    EXPECT_EQ(ReadBytes(victim / L"keep.txt"), "not yours");

    // A directory in the way is not removed: that fails.
    ASSERT_TRUE(CreateDirectoryW((dir / L"busy.yw").c_str(), nullptr));
    EXPECT_FALSE(PrepareInstallerFile(dir / L"busy.yw"));
    EXPECT_EQ(GetFileAttributesW((dir / L"busy.yw").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}
