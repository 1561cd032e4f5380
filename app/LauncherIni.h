#pragma once
// The installed-launcher ini: "OrvelLaucher.ini" in the common
// application-data folder names the launcher of an earlier installation
// ("Orvelnet-Launcher", "InstallPath"), and the installer starts that program
// at once. Any standard user may create that file where no launcher was ever
// installed, so its word counts only when administrators alone can change the
// file and it names a launcher on a local drive; otherwise it is ignored and
// the registry is asked, as when there is no ini.
//
// Threads: UI thread (the decision itself is pure and runs anywhere).

#include <windows.h>

#include <string>

class SecurityDescriptor;

enum class LauncherIniVerdict {
    kTrusted,
    kNoDescriptor,        // the file's descriptor could not be read
    kForeignOwner,        // owned by someone other than SYSTEM, Administrators, TrustedInstaller
    kWritableByOthers,    // someone else may change it (or it has no DACL)
    kNotALocalLauncher,   // not "<drive>:\...\OrvelLauncher.exe"
};

// The decision: a pure function of the file's descriptor and the path it names.
LauncherIniVerdict JudgeLauncherIni(PSECURITY_DESCRIPTOR sd, const std::wstring& installPath);

// An absolute path on a drive letter (no UNC, device or relative path, no
// stream) whose file name is "OrvelLauncher.exe", in any letter case.
bool IsLocalLauncherPath(const std::wstring& path);

// The launcher path the ini at `iniPath` names, when the ini can be trusted;
// empty otherwise (a refusal is logged with its reason).
std::wstring TrustedLauncherFromIni(const std::wstring& iniPath);

// The descriptor the decision is made on: the file's own. The local test
// build may substitute one, since Wine keeps no owners (app/seams).
SecurityDescriptor LauncherIniSecurity(HANDLE iniFile);
