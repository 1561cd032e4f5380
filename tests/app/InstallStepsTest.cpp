#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Runtime/TextUtil.h"
#include "app/InstallSteps.h"
#include "support/TestSupport.h"

using testsupport::PathExists;
using testsupport::ReadBytes;
using testsupport::StandinDir;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

std::wstring CommonAppData()
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path);
    return path;
}

std::string Utf8(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
    return s;
}

bool CopyTo(const std::wstring& from, const std::wstring& to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

// The places an earlier installation leaves its traces: the ini file in the
// common application data and the 32-bit registry value. Each test starts
// without either and leaves none behind.
class InstalledLauncherTraces : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }

    std::wstring IniPath() const { return CommonAppData() + L"\\OrvelLaucher.ini"; }

    void WriteIni(const std::wstring& installPath)
    {
        ASSERT_TRUE(WritePrivateProfileStringW(L"Orvelnet-Launcher", L"InstallPath", installPath.c_str(),
                                               IniPath().c_str()));
    }

    void WriteRegistry(const std::wstring& dir, DWORD type = REG_SZ)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvelLauncher", 0, nullptr, 0,
                                  KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"InstPath", 0, type, reinterpret_cast<const BYTE*>(dir.c_str()),
                       static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    void Clear()
    {
        DeleteFileW(IniPath().c_str());
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvelLauncher", KEY_WOW64_32KEY, 0);
        GiveIniTheDescriptor(nullptr);
    }

    // The descriptor the ini is judged on, as Windows would have set it (the
    // local build's seam; Wine's own says the Unix user owns every file).
    // Null: the file's own.
    static void GiveIniTheDescriptor(const wchar_t* sddl)
    {
        SetEnvironmentVariableW(L"OV_TEST_LAUNCHER_INI_SDDL", sddl);
    }
};

// What an elevated installer's ini in C:\ProgramData gets on Windows 10/11,
// and what a standard user's gets (see FileSecurityTest.cpp).
const wchar_t kElevatedInstallersIni[] =
    L"O:BAG:S-1-5-21-3623811015-3361044348-30300820-513D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;BA)"
    L"(A;ID;0x1200a9;;;BU)";
const wchar_t kStandardUsersIni[] =
    L"O:S-1-5-21-3623811015-3361044348-30300820-1013G:S-1-5-21-3623811015-3361044348-30300820-513D:AI"
    L"(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;S-1-5-21-3623811015-3361044348-30300820-1013)(A;ID;0x1200a9;;;BU)";

}  // namespace

TEST(InstallSteps, CommandLinesAreUnquoted)
{
    EXPECT_EQ(InstallerCommandLine(L"C:\\pkg\\ovinstaller.exe", L"D:\\My Games\\欧维澄岳"),
              L"C:\\pkg\\ovinstaller.exe /S /unpack=D:\\My Games\\欧维澄岳 /launch=off");
    EXPECT_EQ(LauncherCommandLine(L"D:\\a b\\OrvelLauncher.exe", 0), L"D:\\a b\\OrvelLauncher.exe -i \"0\" -d");
    EXPECT_EQ(LauncherCommandLine(L"L.exe", 65535), L"L.exe -i \"65535\" -d");
    EXPECT_EQ(LauncherPathIn(L"D:\\x"), L"D:\\x\\OrvelLauncher.exe");
    // So only a plain path on a drive goes into the package's line: nothing
    // that a shell or the package would read as more than a path.
    for (const wchar_t* dir : {L"D:", L"D:\\My Games\\欧维澄岳", L"D:\\a/b"})
        EXPECT_TRUE(IsUsableInstallDir(dir)) << dir;
    for (const wchar_t* dir : {L"", L"\\\\host\\share", L"Dx\\a", L"D:a", L"D:\\a:b", L"D:\\a\"b", L"D:\\a*",
                               L"D:\\a\tb", L"D:\\games /S"})
        EXPECT_FALSE(IsUsableInstallDir(dir)) << dir;
}

// Drive types for DefaultInstallDir, by root; roots not listed do not exist.
struct FakeDrives {
    UINT d = DRIVE_NO_ROOT_DIR, c = DRIVE_NO_ROOT_DIR, e = DRIVE_NO_ROOT_DIR;
};
FakeDrives g_drives;
std::vector<std::wstring> g_asked;

UINT FakeDriveType(const wchar_t* root)
{
    g_asked.push_back(root);
    switch (root[0]) {
    case L'D': return g_drives.d;
    case L'C': return g_drives.c;
    case L'E': return g_drives.e;
    default: return DRIVE_NO_ROOT_DIR;
    }
}

TEST(InstallSteps, TheDefaultDirIsOnTheFirstLocalFixedDiskOfDCE)
{
    const UINT F = DRIVE_FIXED, none = DRIVE_NO_ROOT_DIR;
    struct Case {
        const char* what;
        FakeDrives drives;
        const wchar_t* dir;
    } cases[] = {
        {"D and C fixed", {F, F, F}, L"D:\\欧维网络\\欧维澄岳"},
        {"no D", {none, F, F}, L"C:\\欧维网络\\欧维澄岳"},
        {"disc in D", {DRIVE_CDROM, F, none}, L"C:\\欧维网络\\欧维澄岳"},
        {"stick in D, no C", {DRIVE_REMOVABLE, none, F}, L"E:\\欧维网络\\欧维澄岳"},
        {"network D, RAM disk C", {DRIVE_REMOTE, DRIVE_RAMDISK, F}, L"E:\\欧维网络\\欧维澄岳"},
        {"unknown D", {DRIVE_UNKNOWN, F, none}, L"C:\\欧维网络\\欧维澄岳"},
        {"nothing fixed", {DRIVE_CDROM, none, DRIVE_REMOVABLE}, L""},
    };
    for (const Case& c : cases) {
        g_drives = c.drives;
        g_asked.clear();
        EXPECT_EQ(c.dir, DefaultInstallDir(&FakeDriveType)) << c.what;
    }
    // Asked in this order, and no further than needed.
    g_drives = FakeDrives{DRIVE_CDROM, F, F};
    g_asked.clear();
    DefaultInstallDir(&FakeDriveType);
    EXPECT_EQ((std::vector<std::wstring>{L"D:\\", L"C:\\"}), g_asked);
}

TEST(InstallSteps, TheTestPrefixsFixedDiskDIsProposed)
{
    // scripts/setup.sh maps D: in the test prefix as a fixed disk beside C:.
    ASSERT_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeW(L"D:\\")) << "the test prefix has no fixed disk D:";
    ASSERT_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeW(L"C:\\"));
    EXPECT_EQ(L"D:\\欧维网络\\欧维澄岳", DefaultInstallDir());
}

TEST_F(InstalledLauncherTraces, NothingInstalledFindsNothing)
{
    InstalledLauncher l = FindInstalledLauncher();
    EXPECT_FALSE(l.found);
    EXPECT_TRUE(l.launcherPath.empty());
    EXPECT_TRUE(l.installDir.empty());
}

TEST_F(InstalledLauncherTraces, AnAdministratorsIniNamingAnExistingLauncherWinsOverTheRegistry)
{
    TempDir a, b;
    ASSERT_TRUE(WriteBytes(a / L"OrvelLauncher.exe", "MZ"));
    ASSERT_TRUE(WriteBytes(b / L"OrvelLauncher.exe", "MZ"));
    WriteIni(a / L"OrvelLauncher.exe");
    WriteRegistry(b.Path());
    GiveIniTheDescriptor(kElevatedInstallersIni);
    InstalledLauncher l = FindInstalledLauncher();
    EXPECT_TRUE(l.found);
    EXPECT_EQ(l.launcherPath, a / L"OrvelLauncher.exe");
    EXPECT_TRUE(l.installDir.empty());
}

TEST_F(InstalledLauncherTraces, AnIniOthersCanWriteIsIgnoredAndTheRegistryDecides)
{
    // A standard user's ini naming their own program, beside a real installation.
    TempDir planted, b;
    ASSERT_TRUE(WriteBytes(planted / L"OrvelLauncher.exe", "MZ"));
    ASSERT_TRUE(WriteBytes(b / L"OrvelLauncher.exe", "MZ"));
    WriteIni(planted / L"OrvelLauncher.exe");
    WriteRegistry(b.Path());
    for (const wchar_t* sddl : {kStandardUsersIni, static_cast<const wchar_t*>(nullptr)}) {
        // Null: the descriptor Wine reports, which names the Unix user as owner.
        GiveIniTheDescriptor(sddl);
        InstalledLauncher l = FindInstalledLauncher();
        EXPECT_TRUE(l.found);
        EXPECT_EQ(l.launcherPath, b / L"OrvelLauncher.exe") << (sddl ? "standard user's" : "Wine's");
    }
    // Without a registry value nothing is found at all.
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvelLauncher", KEY_WOW64_32KEY, 0);
    GiveIniTheDescriptor(kStandardUsersIni);
    EXPECT_FALSE(FindInstalledLauncher().found);
}

TEST_F(InstalledLauncherTraces, AMissingIniTargetFallsThroughToTheRegistry)
{
    TempDir a, b;
    WriteIni(a / L"gone.exe");
    ASSERT_TRUE(WriteBytes(b / L"OrvelLauncher.exe", "MZ"));
    WriteRegistry(b.Path());
    InstalledLauncher l = FindInstalledLauncher();
    EXPECT_TRUE(l.found);
    EXPECT_EQ(l.launcherPath, b / L"OrvelLauncher.exe");
    EXPECT_EQ(l.installDir, b.Path());
}

TEST_F(InstalledLauncherTraces, ARegistryDirWithoutLauncherIsOnlyProposed)
{
    TempDir b;
    WriteRegistry(b.Path() + L"\\欧维澄岳");
    InstalledLauncher l = FindInstalledLauncher();
    EXPECT_FALSE(l.found);
    EXPECT_EQ(l.installDir, b.Path() + L"\\欧维澄岳");
}

TEST_F(InstalledLauncherTraces, OnlyAPlainStringValueCounts)
{
    TempDir b;
    ASSERT_TRUE(WriteBytes(b / L"OrvelLauncher.exe", "MZ"));
    WriteRegistry(b.Path(), REG_EXPAND_SZ);
    InstalledLauncher l = FindInstalledLauncher();
    EXPECT_FALSE(l.found);
    EXPECT_TRUE(l.installDir.empty());
}

TEST_F(InstalledLauncherTraces, AValueFillingTheWholeBufferIsCutSafely)
{
    // 2048 characters without a terminator: the read must not run past its buffer.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvelLauncher", 0, nullptr, 0,
                              KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::wstring full(2048, L'x');
    RegSetValueExW(key, L"InstPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(full.data()), 4096);
    RegCloseKey(key);
    InstalledLauncher l = FindInstalledLauncher();
    EXPECT_FALSE(l.found);
    // Windows returns the value whole; Wine refuses it for want of room for a
    // terminator. Either way nothing past the buffer is read.
    EXPECT_TRUE(l.installDir.empty() || l.installDir == full) << l.installDir.size();
}

TEST(InstallSteps, PackageRunsSilentlyAndTheLauncherGetsTheLaunchNumber)
{
    TempDir pkg, target;
    const std::wstring installer = pkg / L"ovinstaller.exe";
    ASSERT_TRUE(CopyTo(StandinDir() + L"\\ovinstaller.exe", installer)) << ToNarrow(StandinDir());
    const std::wstring installDir = target / L"My Games\\欧维澄岳";

    UniqueProcess pi;
    RunInstaller(installer, installDir, &pi);
    ASSERT_TRUE(pi);
    EXPECT_EQ(StartLauncherAndFinish(&pi, installDir, 7, installer), 0u);
    EXPECT_FALSE(pi);  // waited for and let go

    EXPECT_EQ(ReadBytes(installDir + L"\\installer.txt"),
              Utf8(installer + L" /S /unpack=" + installDir + L" /launch=off\n"));
    EXPECT_EQ(ReadBytes(installDir + L"\\installer-cwd.txt"), Utf8(pkg.Path() + L"\n"));  // its own folder
    const std::wstring log = installDir + L"\\launched.txt";
    ASSERT_TRUE(testsupport::PumpMessagesUntil([&] { return PathExists(log); }, 10000));
    Sleep(100);
    const std::string expected = "\\OrvelLauncher.exe -i \"7\" -d\n";
    const std::string got = ReadBytes(log);
    ASSERT_GE(got.size(), expected.size());
    EXPECT_EQ(got.substr(got.size() - expected.size()), expected);
    EXPECT_FALSE(PathExists(installer)) << "the package that ran is deleted after the hand-off";
}

TEST(InstallSteps, LaunchNumberZeroGivesAnEmptyCommandLine)
{
    TempDir pkg, target;
    const std::wstring installer = pkg / L"ovinstaller.exe";
    ASSERT_TRUE(CopyTo(StandinDir() + L"\\ovinstaller.exe", installer));
    const std::wstring installDir = target / L"dir";

    UniqueProcess pi;
    RunInstaller(installer, installDir, &pi);
    EXPECT_EQ(StartLauncherAndFinish(&pi, installDir, 0, installer), 0u);
    const std::wstring log = installDir + L"\\launched.txt";
    ASSERT_TRUE(testsupport::PumpMessagesUntil([&] { return PathExists(log); }, 10000));
    Sleep(100);
    // Started without arguments (Wine shows the program's own quoted path as
    // the command line then; Windows an empty one): no launch number.
    const std::string got = ReadBytes(log);
    EXPECT_EQ(got.find("-i"), std::string::npos) << got;
    EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 1) << got;
}

TEST(InstallSteps, AMissingPackageIsNotFatal)
{
    TempDir pkg, target;
    UniqueProcess pi;
    RunInstaller(pkg / L"ovinstaller.exe", target / L"d", &pi);
    EXPECT_FALSE(pi);
    EXPECT_EQ(StartLauncherAndFinish(&pi, target / L"d", 3, pkg / L"ovinstaller.exe"),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}
