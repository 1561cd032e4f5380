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

    // `terminated` false: the characters alone, without the closing null.
    void WriteRegistry(const std::wstring& dir, DWORD type = REG_SZ, bool terminated = true)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvelLauncher", 0, nullptr, 0,
                                  KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"InstPath", 0, type, reinterpret_cast<const BYTE*>(dir.c_str()),
                       static_cast<DWORD>((dir.size() + (terminated ? 1 : 0)) * sizeof(wchar_t)));
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

    // The system's own answer: scripts/setup.sh maps D: in the test prefix as
    // a fixed disk beside C:.
    ASSERT_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeW(L"D:\\")) << "the test prefix has no fixed disk D:";
    ASSERT_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeW(L"C:\\"));
    EXPECT_EQ(L"D:\\欧维网络\\欧维澄岳", DefaultInstallDir());
}

TEST_F(InstalledLauncherTraces, ATrustedIniThenAPlainRegistryValueNameTheLauncher)
{
    enum Where { kNowhere, kA, kGoneInA, kB, kEmptyDirInB };
    struct Case {
        const char* what;
        Where ini;
        const wchar_t* sddl;  // null: the descriptor Wine reports, naming the Unix user as owner
        Where registry;
        DWORD type;
        bool found;
        Where launcher, dir;
    } const cases[] = {
        {"nothing installed", kNowhere, nullptr, kNowhere, REG_SZ, false, kNowhere, kNowhere},
        {"an administrator's ini wins", kA, kElevatedInstallersIni, kB, REG_SZ, true, kA, kNowhere},
        // A standard user's ini naming their own program, beside a real installation.
        {"a standard user's ini", kA, kStandardUsersIni, kB, REG_SZ, true, kB, kB},
        {"Wine's descriptor", kA, nullptr, kB, REG_SZ, true, kB, kB},
        {"an untrusted ini alone", kA, kStandardUsersIni, kNowhere, REG_SZ, false, kNowhere, kNowhere},
        {"a missing ini target", kGoneInA, kElevatedInstallersIni, kB, REG_SZ, true, kB, kB},
        {"a registry dir without launcher is only proposed", kNowhere, nullptr, kEmptyDirInB, REG_SZ, false,
         kNowhere, kEmptyDirInB},
        {"only a plain string value counts", kNowhere, nullptr, kB, REG_EXPAND_SZ, false, kNowhere, kNowhere},
    };
    TempDir a, b;
    ASSERT_TRUE(WriteBytes(a / L"OrvelLauncher.exe", "MZ"));
    ASSERT_TRUE(WriteBytes(b / L"OrvelLauncher.exe", "MZ"));
    auto dir = [&](Where w) {
        return w == kNowhere ? std::wstring() : w == kEmptyDirInB ? b / L"欧维澄岳" : (w == kB ? b : a).Path();
    };
    auto file = [&](Where w) {
        return w == kNowhere ? std::wstring() : w == kGoneInA ? a / L"gone.exe" : dir(w) + L"\\OrvelLauncher.exe";
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Clear();
        if (c.ini != kNowhere)
            WriteIni(file(c.ini));
        if (c.registry != kNowhere)
            WriteRegistry(dir(c.registry), c.type);
        GiveIniTheDescriptor(c.sddl);
        const InstalledLauncher l = FindInstalledLauncher();
        EXPECT_EQ(c.found, l.found);
        EXPECT_EQ(file(c.launcher), l.launcherPath);
        EXPECT_EQ(dir(c.dir), l.installDir);
    }
}

TEST_F(InstalledLauncherTraces, AValueFillingTheWholeBufferIsCutSafely)
{
    // 2048 characters without a terminator: the read must not run past its buffer.
    const std::wstring full(2048, L'x');
    WriteRegistry(full, REG_SZ, false);
    InstalledLauncher l = FindInstalledLauncher();
    EXPECT_FALSE(l.found);
    // Windows returns the value whole; Wine refuses it for want of room for a
    // terminator. Either way nothing past the buffer is read.
    EXPECT_TRUE(l.installDir.empty() || l.installDir == full) << l.installDir.size();
}

// The stand-in package copied into a folder of its own, run into a target
// folder, then the launcher it leaves started.
class Package : public ::testing::Test {
protected:
    void RunWith(int launchNumber)
    {
        ASSERT_TRUE(CopyTo(StandinDir() + L"\\ovinstaller.exe", installer_)) << ToNarrow(StandinDir());
        UniqueProcess pi;
        RunInstaller(installer_, installDir_, &pi);
        ASSERT_TRUE(pi);
        EXPECT_EQ(StartLauncherAndFinish(&pi, installDir_, launchNumber, installer_), 0u);
        EXPECT_FALSE(pi);  // waited for and let go
        const std::wstring log = installDir_ + L"\\launched.txt";
        ASSERT_TRUE(testsupport::PumpMessagesUntil([&] { return PathExists(log); }, 10000));
        Sleep(100);
        launched_ = ReadBytes(log);
    }

    TempDir pkg_, target_;
    const std::wstring installer_ = pkg_ / L"ovinstaller.exe";
    const std::wstring installDir_ = target_ / L"My Games\\欧维澄岳";
    std::string launched_;  // the launcher's command line as it saw it
};

TEST_F(Package, RunsSilentlyAndTheLauncherGetsTheLaunchNumber)
{
    ASSERT_NO_FATAL_FAILURE(RunWith(7));
    EXPECT_EQ(ReadBytes(installDir_ + L"\\installer.txt"),
              ToNarrow(installer_ + L" /S /unpack=" + installDir_ + L" /launch=off\n", CP_UTF8));
    EXPECT_EQ(ReadBytes(installDir_ + L"\\installer-cwd.txt"), ToNarrow(pkg_.Path() + L"\n", CP_UTF8));  // its own folder
    const std::string expected = "\\OrvelLauncher.exe -i \"7\" -d\n";
    ASSERT_GE(launched_.size(), expected.size());
    EXPECT_EQ(launched_.substr(launched_.size() - expected.size()), expected);
    EXPECT_FALSE(PathExists(installer_)) << "the package that ran is deleted after the hand-off";
}

TEST_F(Package, LaunchNumberZeroGivesAnEmptyCommandLine)
{
    ASSERT_NO_FATAL_FAILURE(RunWith(0));
    // Started without arguments (Wine shows the program's own quoted path as
    // the command line then; Windows an empty one): no launch number.
    EXPECT_EQ(launched_.find("-i"), std::string::npos) << launched_;
    EXPECT_EQ(std::count(launched_.begin(), launched_.end(), '\n'), 1) << launched_;
}

TEST_F(Package, AMissingOneIsNotFatal)
{
    UniqueProcess pi;
    RunInstaller(installer_, installDir_, &pi);
    EXPECT_FALSE(pi);
    EXPECT_EQ(StartLauncherAndFinish(&pi, installDir_, 3, installer_), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}
