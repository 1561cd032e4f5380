#include "app/InstallSteps.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "Runtime/Logger.h"
#include "Runtime/ProcessStart.h"
#include "Runtime/ScopedCom.h"
#include "Runtime/StagingFolder.h"
#include "Runtime/TextUtil.h"
#include "app/LauncherIni.h"
#include "app/UserStart.h"

namespace {

const wchar_t kIniName[] = L"OrvelLaucher.ini";
const char kRegistryKey[] = "SOFTWARE\\OrvelLauncher";
const wchar_t kRegistryValue[] = L"InstPath";
const wchar_t kLauncherName[] = L"OrvelLauncher.exe";
const wchar_t kDefaultSubFolder[] = L"欧维网络\\欧维澄岳";
const wchar_t kStagingFolderName[] = L"OrvelSetup";

std::wstring CommonAppDataDir()
{
    std::wstring dir;
    // The shell's folder lookup wants COM on this thread; the entry point has
    // it already, a test's thread may not.
    const ScopedCom com;
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_APPDATA, &items)) && items) {
        wchar_t path[MAX_PATH] = {};
        if (SHGetPathFromIDListW(items, path))
            dir = path;
        CoTaskMemFree(items);
    }
    return dir;
}

bool AppendPath(std::wstring& base, const wchar_t* more)
{
    wchar_t buf[MAX_PATH] = {};
    if (base.size() >= MAX_PATH)
        return false;
    wcscpy(buf, base.c_str());
    if (!PathAppendW(buf, more))
        return false;
    base = buf;
    return true;
}

// The registry's directory, or empty. The value may lack its terminator and
// may fill the whole buffer, so one extra character is kept for it.
std::wstring ReadRegistryInstallDir()
{
    HKEY key = nullptr;
    // The launcher's installer is a 32-bit program: its value lives in the
    // 32-bit view, which this 64-bit program must ask for.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return std::wstring();
    std::vector<wchar_t> buf(4096 / sizeof(wchar_t) + 1, L'\0');
    DWORD type = 0;
    DWORD bytes = 4096;
    std::wstring dir;
    LONG rc = RegQueryValueExW(key, kRegistryValue, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &bytes);
    if (rc == ERROR_SUCCESS && type == REG_SZ) {
        buf[bytes / sizeof(wchar_t)] = L'\0';
        dir = buf.data();
    }
    RegCloseKey(key);
    return dir;
}

}  // namespace

InstalledLauncher FindInstalledLauncher()
{
    InstalledLauncher result;
    std::wstring ini = CommonAppDataDir();
    if (ini.empty() || !AppendPath(ini, kIniName))
        return result;

    // Only an ini that administrators alone can change names a program to start.
    const std::wstring fromIni = TrustedLauncherFromIni(ini);
    if (!fromIni.empty() && PathFileExistsW(fromIni.c_str())) {
        result.found = true;
        result.launcherPath = fromIni;
        return result;
    }

    const std::wstring dir = ReadRegistryInstallDir();
    if (dir.empty())
        return result;
    result.installDir = dir;
    std::wstring launcher = dir;
    if (AppendPath(launcher, kLauncherName) && PathFileExistsW(launcher.c_str())) {
        result.found = true;
        result.launcherPath = launcher;
    }
    return result;
}

UINT QueryDriveType(const wchar_t* root)
{
    return PathFileExistsW(root) ? GetDriveTypeW(root) : static_cast<UINT>(DRIVE_NO_ROOT_DIR);
}

std::wstring DefaultInstallDir(DriveTypeQuery query)
{
    static const wchar_t* const kDrives[] = {L"D:\\", L"C:\\", L"E:\\"};
    for (const wchar_t* drive : kDrives) {
        if (!query || query(drive) != DRIVE_FIXED)
            continue;
        std::wstring dir = drive;
        return AppendPath(dir, kDefaultSubFolder) ? dir : std::wstring();
    }
    return std::wstring();
}

bool PrepareStagingFolder(StagingFolder& folder)
{
    const std::wstring parent = CommonAppDataDir();
    if (parent.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return folder.Prepare(parent, kStagingFolderName, &StagingFolderDescriptor);
}

bool IsUsableInstallDir(const std::wstring& dir)
{
    const bool drive = dir.size() >= 2 && ((dir[0] >= L'A' && dir[0] <= L'Z') || (dir[0] >= L'a' && dir[0] <= L'z')) &&
                       dir[1] == L':';
    if (!drive || (dir.size() > 2 && dir[2] != L'\\'))
        return false;
    for (size_t i = 2; i < dir.size(); ++i) {
        const wchar_t c = dir[i];
        if (c < 0x20 || wcschr(L"\"*?<>|:", c))
            return false;
        if (c == L'/' && iswspace(dir[i - 1]))
            return false;
    }
    return true;
}

std::wstring InstallerCommandLine(const std::wstring& installerPath, const std::wstring& installDir)
{
    return Format(L"%s /S /unpack=%s /launch=off", installerPath.c_str(), installDir.c_str());
}

std::wstring LauncherCommandLine(const std::wstring& launcherPath, unsigned launchNumber)
{
    return Format(L"%s -i \"%d\" -d", launcherPath.c_str(), static_cast<int>(launchNumber));
}

std::wstring LauncherPathIn(const std::wstring& installDir)
{
    return installDir + L"\\" + kLauncherName;
}

DWORD RunInstaller(const std::wstring& installerPath, const std::wstring& installDir, UniqueProcess* process)
{
    const std::wstring folder = installerPath.substr(0, installerPath.find_last_of(L'\\'));
    UniqueProcess started;
    const DWORD error = StartProcess(installerPath, InstallerCommandLine(installerPath, installDir), &started, folder);
    if (process)
        *process = std::move(started);
    return error;
}

void WaitForProcessPumping(HANDLE process)
{
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0)
            break;
        if (r != WAIT_OBJECT_0 + 1) {
            // The handle is unusable: waiting on would spin or hang for ever.
            OV_LOG(LOG_ERROR, L".\\app\\InstallSteps", L"wait for the package failed:%u r:%u",
                   static_cast<unsigned>(GetLastError()), static_cast<unsigned>(r));
            break;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            // As the main loop: no framework pre-translation.
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
}

DWORD StartLauncherAndFinish(UniqueProcess* installer, const std::wstring& installDir, unsigned launchNumber,
                             const std::wstring& installerPath)
{
    if (installer && *installer) {
        WaitForProcessPumping(installer->process.Get());
        *installer = UniqueProcess();
    }
    const std::wstring launcher = LauncherPathIn(installDir);
    const std::wstring commandLine = launchNumber > 0 ? LauncherCommandLine(launcher, launchNumber) : std::wstring();
    const DWORD started = StartAsSignedInUser(launcher, commandLine);
    if (!installerPath.empty() && !DeleteFileW(installerPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        OV_LOG(LOG_WARN, L".\\app\\InstallSteps", L"package not deleted:%u: %s", static_cast<unsigned>(GetLastError()),
               installerPath.c_str());
    return started;
}
