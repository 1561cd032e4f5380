// Stand-in for the client launcher that the installer hands over to. It only
// records how it was started: one UTF-8 line with its full command line is
// appended to "launched.txt" beside it, and "administrators=<enabled|
// deny-only|absent>" (the rights it got) to "launched-token.txt", then it exits.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const char* Administrators()
{
    HANDLE token = nullptr;
    static BYTE buf[64 * 1024];
    DWORD size = 0;
    const char* admins = "unknown";
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenGroups, buf, sizeof buf, &size))
        admins = "absent";
    const TOKEN_GROUPS* groups = reinterpret_cast<TOKEN_GROUPS*>(buf);
    for (DWORD i = 0; size && i < groups->GroupCount; ++i)
        if (IsWellKnownSid(groups->Groups[i].Sid, WinBuiltinAdministratorsSid))
            admins = (groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) ? "deny-only" : "enabled";
    return admins;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    wchar_t self[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2)
        return 2;
    std::wstring log(self, n);
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"launched.txt";

    const wchar_t* cmd = GetCommandLineW();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, cmd, -1, nullptr, 0, nullptr, nullptr);
    std::string line(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1)
        WideCharToMultiByte(CP_UTF8, 0, cmd, -1, &line[0], bytes, nullptr, nullptr);
    line += "\n";

    // The rights first: whoever waits for "launched.txt" finds both.
    FILE* rights = _wfopen((log.substr(0, log.size() - 4) + L"-token.txt").c_str(), L"wb");
    if (!rights || fprintf(rights, "administrators=%s\n", Administrators()) < 0 || fclose(rights) != 0)
        return 3;

    HANDLE f = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    BOOL ok = WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == line.size() ? 0 : 4;
}
