#pragma once
// The install flow's steps that touch the machine outside the window: finding
// a launcher that is already installed, proposing the default installation
// directory, the package and launcher command lines, and the hand-off itself.
// The install window calls these and keeps the results in its own members.
//
// Threads: UI thread.

#include <windows.h>

#include <cstdint>
#include <string>

#include "Runtime/UniqueHandle.h"

class SecurityDescriptor;
class StagingFolder;

// What an earlier installation left behind.
struct InstalledLauncher {
    bool found = false;
    // The existing launcher executable, when found.
    std::wstring launcherPath;
    // The directory an earlier installation recorded in the registry, even when
    // its launcher is gone: it becomes the proposed install directory.
    std::wstring installDir;
};

// Looks in "OrvelLaucher.ini" of the common application-data folder (trusted
// only when administrators alone can change it, see LauncherIni.h), then in
// HKLM "SOFTWARE\OrvelLauncher" value "InstPath" (the 32-bit registry view,
// where the launcher's own 32-bit installer writes it).
InstalledLauncher FindInstalledLauncher();

// Type of the drive at `root` ("D:\\"), as GetDriveTypeW answers (a missing
// root is DRIVE_NO_ROOT_DIR). Tests give their own.
using DriveTypeQuery = UINT (*)(const wchar_t* root);
UINT QueryDriveType(const wchar_t* root);

// The first of D:\, C:\, E:\ that is a local fixed disk, followed by
// "欧维网络\欧维澄岳"; empty when none is. A disc in an optical drive or a
// removable stick is no place to install to (it may be gone next time).
std::wstring DefaultInstallDir(DriveTypeQuery query = &QueryDriveType);

// The folder the installer stages the package and its files in: "OrvelSetup"
// in the common application-data folder, or one made for this run when that
// is someone else's (see Runtime/StagingFolder.h). False when none can be had.
bool PrepareStagingFolder(StagingFolder& folder);
// The descriptor an existing staging folder is judged on: the folder's own.
// The local test build may substitute one, since Wine keeps no owners
// (app/seams).
SecurityDescriptor StagingFolderDescriptor(HANDLE folder);

// "<installer> /S /unpack=<dir> /launch=off" (nothing quoted).
std::wstring InstallerCommandLine(const std::wstring& installerPath, const std::wstring& installDir);
// True when `dir` can stand unquoted after "/unpack=" and mean only itself:
// an absolute path on a drive letter ("X:" or "X:\..."), with no quote, no
// control character, no character a file name cannot hold, and no blank
// followed by "/" (which would start an option of the package's own).
bool IsUsableInstallDir(const std::wstring& dir);
// "<launcher> -i "<n>" -d".
std::wstring LauncherCommandLine(const std::wstring& launcherPath, unsigned launchNumber);
// "<installDir>\OrvelLauncher.exe"
std::wstring LauncherPathIn(const std::wstring& installDir);

// Starts the package silently into `installDir`, with the folder it lies in
// (the staging folder) as its current directory: the package runs elevated
// and looks for its own DLLs there, never in the folder this installer was
// started from. `process` receives it (empty when it could not be started).
// Returns 0, or the system error that kept the package from starting.
DWORD RunInstaller(const std::wstring& installerPath, const std::wstring& installDir, UniqueProcess* process);

// Waits for `process` without a time limit while this thread's windows keep
// working: sent and posted messages are dispatched (paint, timers, input), so
// the window neither freezes nor looks hung. A quit request that arrives
// meanwhile is kept and posted again once the process has ended.
void WaitForProcessPumping(HANDLE process);

// Waits for the package (when it was started; see WaitForProcessPumping),
// lets it go (`installer` is empty afterwards), starts the launcher installed in `installDir` with the
// signed-in user's rights, never the installer's (see UserStart.h; with the
// launch number when it is above 0, else with an empty command line) and
// deletes the package that ran (the staging folder's copy; a package shipped
// beside the program stays where it was). Returns the launcher's start
// result (0 or a system error).
DWORD StartLauncherAndFinish(UniqueProcess* installer, const std::wstring& installDir, unsigned launchNumber,
                             const std::wstring& installerPath);
