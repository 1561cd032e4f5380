// The installed launcher's ini: descriptors as Windows 10/11 set them (SDDL),
// judged by the installer's decisions, and the launcher paths it will start.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "Runtime/FileSecurity.h"
#include "app/LauncherIni.h"

namespace {

// A standard user of a Windows 10/11 machine and the primary group it has.
const std::wstring kUser = L"S-1-5-21-3623811015-3361044348-30300820-1013";
const std::wstring kUserGroup = L"S-1-5-21-3623811015-3361044348-30300820-513";
const std::wstring kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// A file a standard user creates in C:\ProgramData: owned by the user, with
// the entries inherited from the folder (SYSTEM and Administrators full
// control, CREATOR OWNER's full control turned into the user's, Users read
// and execute; the folder's own write grant to Users applies to subfolders).
const std::wstring kStandardUsersFile = L"O:" + kUser + L"G:" + kUserGroup +
                                        L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;" + kUser + L")(A;ID;0x1200a9;;;BU)";
// The same file written by an elevated installer: an elevated administrator's
// token makes Administrators the owner, and CREATOR OWNER's entry with it.
const std::wstring kElevatedInstallersFile =
    L"O:BAG:" + kUserGroup + L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";

const std::wstring kLauncher = L"C:\\Program Files (x86)\\Orvel\\OrvelLauncher.exe";

LauncherIniVerdict Judge(const std::wstring& sddl, const std::wstring& path = kLauncher)
{
    const SecurityDescriptor sd = SecurityDescriptor::FromSddl(sddl);
    EXPECT_FALSE(sd.Empty()) << "bad SDDL in the test: " << testing::PrintToString(sddl);
    return JudgeLauncherIni(sd.Get(), path);
}

}  // namespace

TEST(LauncherIniTrust, AStandardUsersFileInProgramDataIsNotTrustedAnElevatedInstallersIs)
{
    EXPECT_EQ(Judge(kStandardUsersFile), LauncherIniVerdict::kForeignOwner);
    EXPECT_EQ(Judge(kElevatedInstallersFile), LauncherIniVerdict::kTrusted);
}

TEST(LauncherIniTrust, OnlySystemAdministratorsAndTrustedInstallerMayOwnIt)
{
    const std::wstring dacl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
    EXPECT_EQ(Judge(L"O:SY" + dacl), LauncherIniVerdict::kTrusted);
    EXPECT_EQ(Judge(L"O:" + kTrustedInstaller + dacl), LauncherIniVerdict::kTrusted);
    // A user who created it and left only administrators in the DACL still
    // owns it, and an owner may rewrite the DACL at will.
    EXPECT_EQ(Judge(L"O:" + kUser + dacl), LauncherIniVerdict::kForeignOwner);
    EXPECT_EQ(Judge(L"O:S-1-5-32-547" + dacl), LauncherIniVerdict::kForeignOwner);  // Power Users
    EXPECT_EQ(Judge(dacl), LauncherIniVerdict::kForeignOwner);                       // no owner at all
}

TEST(LauncherIniTrust, AnyWayForSomeoneElseToChangeItIsRefused)
{
    const std::wstring head = L"O:BAG:SYD:(A;;FA;;;SY)(A;;FA;;;BA)";
    struct Case {
        const wchar_t* ace;
        const wchar_t* what;
    } cases[] = {
        {L"(A;;0x1301bf;;;BU)", L"Users modify"},
        {L"(A;;FA;;;WD)", L"Everyone full control"},
        {L"(A;;GW;;;AU)", L"Authenticated Users generic write"},
        {L"(A;;GA;;;" L"S-1-5-21-3623811015-3361044348-30300820-1013" L")", L"one user generic all"},
        {L"(A;;0x2;;;BU)", L"write data only"},
        {L"(A;;0x4;;;BU)", L"append only"},
        {L"(A;;SD;;;BU)", L"delete only"},
        {L"(A;;WD;;;BU)", L"WRITE_DAC only"},
        {L"(A;;WO;;;BU)", L"WRITE_OWNER only"},
        {L"(D;;FA;;;BU)(A;;FA;;;BU)", L"a grant behind a deny entry"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Judge(head + c.ace), LauncherIniVerdict::kWritableByOthers) << testing::PrintToString(c.what);
    // No DACL, or a null one ("D:NO_ACCESS_CONTROL", built by hand: Wine
    // parses that text into an empty DACL): everyone may do everything.
    EXPECT_EQ(Judge(L"O:BAG:SY"), LauncherIniVerdict::kWritableByOthers);
    SECURITY_DESCRIPTOR nullDacl;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    ASSERT_TRUE(InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&nullDacl, admins, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE));
    EXPECT_EQ(JudgeLauncherIni(&nullDacl, kLauncher), LauncherIniVerdict::kWritableByOthers);

    // A conditional (callback) grant, built by hand (Wine parses no
    // conditional SDDL): a condition never makes a grant safe.
    struct {
        ACE_HEADER header;
        ACCESS_MASK mask;
        BYTE sid[SECURITY_MAX_SID_SIZE];
    } callback = {{ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, sizeof callback}, FILE_ALL_ACCESS, {}};
    DWORD sidSize = sizeof callback.sid;
    ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, callback.sid, &sidSize));
    DWORD acl[64];
    ASSERT_TRUE(InitializeAcl(reinterpret_cast<PACL>(acl), sizeof acl, ACL_REVISION_DS));
    ASSERT_TRUE(AddAce(reinterpret_cast<PACL>(acl), ACL_REVISION_DS, MAXDWORD, &callback, sizeof callback));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&nullDacl, TRUE, reinterpret_cast<PACL>(acl), FALSE));
    EXPECT_EQ(JudgeLauncherIni(&nullDacl, kLauncher), LauncherIniVerdict::kWritableByOthers);
}

TEST(LauncherIniTrust, ReadingRightsDenyEntriesAndEntriesForChildrenOnlyAreHarmless)
{
    EXPECT_EQ(Judge(L"O:BAG:SYD:(A;;FA;;;BA)(A;;FRFX;;;WD)(A;;0x100;;;BU)"), LauncherIniVerdict::kTrusted)
        << "read, execute and write-attributes cannot change what the file says";
    EXPECT_EQ(Judge(L"O:BAG:SYD:(D;;FA;;;BU)(A;;FA;;;BA)"), LauncherIniVerdict::kTrusted);
    EXPECT_EQ(Judge(L"O:BAG:SYD:(A;;FA;;;BA)(A;OICIIO;FA;;;BU)"), LauncherIniVerdict::kTrusted);
    EXPECT_EQ(JudgeLauncherIni(nullptr, kLauncher), LauncherIniVerdict::kNoDescriptor);
}

TEST(LauncherIniTrust, OnlyALocalLauncherPathIsStarted)
{
    for (const wchar_t* good : {L"C:\\Program Files (x86)\\Orvel\\OrvelLauncher.exe", L"d:/games/orvellauncher.EXE",
                                L"E:\\OrvelLauncher.exe"}) {
        EXPECT_TRUE(IsLocalLauncherPath(good)) << testing::PrintToString(good);
        EXPECT_EQ(Judge(kElevatedInstallersFile, good), LauncherIniVerdict::kTrusted);
    }
    for (const wchar_t* bad : {
             L"\\\\attacker\\share\\OrvelLauncher.exe",   // UNC
             L"\\\\?\\C:\\Orvel\\OrvelLauncher.exe",      // device paths
             L"\\\\.\\C:\\Orvel\\OrvelLauncher.exe",
             L"OrvelLauncher.exe",                        // relative
             L"C:OrvelLauncher.exe",                      // relative to C:'s current directory
             L"C:\\Users\\Public\\evil.exe",              // another program
             L"C:\\Orvel\\OrvelLauncher.exe.bat",
             L"C:\\Orvel\\NotOrvelLauncher.exe",
             L"C:\\Orvel\\OrvelLauncher.exe:payload",     // a stream
             L"C:\\Orvel:alt\\OrvelLauncher.exe",         // a folder's stream
             L"C:\\Orvel\\Orvel*.exe",
             L"",
         }) {
        EXPECT_FALSE(IsLocalLauncherPath(bad)) << testing::PrintToString(bad);
        EXPECT_EQ(Judge(kElevatedInstallersFile, bad), LauncherIniVerdict::kNotALocalLauncher);
    }
}
