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

// The first of D:\, C:\, E:\ that exists followed by "欧维网络\欧维澄岳";
// empty when none exists.
std::wstring DefaultInstallDir();

// "<installer> /S /unpack=<dir> /launch=off" (nothing quoted).
std::wstring InstallerCommandLine(const std::wstring& installerPath, const std::wstring& installDir);
// "<launcher> -i "<n>" -d".
std::wstring LauncherCommandLine(const std::wstring& launcherPath, unsigned launchNumber);
// "<installDir>\OrvelLauncher.exe"
std::wstring LauncherPathIn(const std::wstring& installDir);

// Starts the package silently into `installDir`. `process` receives its open
// handles (null handles when it could not be started; that is not reported).
void RunInstaller(const std::wstring& installerPath, const std::wstring& installDir, PROCESS_INFORMATION* process);

// Waits for the package without a time limit (when it was started), closes
// its handles, starts the launcher installed in `installDir` with the
// signed-in user's rights (see UserStart.h; with the launch number when it is
// above 0, else with an empty command line) and deletes a downloaded package.
// Returns the launcher's start result (0 or a system error).
DWORD StartLauncherAndFinish(PROCESS_INFORMATION* installer, const std::wstring& installDir, unsigned launchNumber,
                             const std::wstring& installerPath, bool packageIsLocal);
