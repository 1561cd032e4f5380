// Stand-in for the client launcher that the installer hands over to. It only
// records how it was started: one UTF-8 line with its full command line is
// appended to "launched.txt" beside it, and one line with the rights it got
// to "launched-token.txt" ("integrity=<SID> administrators=<enabled|deny-only|
// absent>"), then it exits.

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace {

std::string TokenLine()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "no token\n";
    std::string line = "integrity=";
    DWORD size = 0;
    GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
    std::vector<BYTE> buf(size ? size : 1);
    LPSTR sid = nullptr;
    if (GetTokenInformation(token, TokenIntegrityLevel, buf.data(), size, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buf.data())->Label.Sid, &sid)) {
        line += sid;
        LocalFree(sid);
    }
    line += " administrators=";
    size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    buf.assign(size ? size : 1, 0);
    const char* admins = "absent";
    if (GetTokenInformation(token, TokenGroups, buf.data(), size, &size)) {
        const TOKEN_GROUPS* groups = reinterpret_cast<TOKEN_GROUPS*>(buf.data());
        for (DWORD i = 0; i < groups->GroupCount; ++i) {
            if (IsWellKnownSid(groups->Groups[i].Sid, WinBuiltinAdministratorsSid))
                admins = (groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) ? "deny-only" : "enabled";
        }
    }
    CloseHandle(token);
    return line + admins + "\n";
}

bool Append(const std::wstring& path, const std::string& line)
{
    HANDLE f = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == line.size();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    wchar_t self[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2)
        return 2;
    std::wstring dir(self, n);
    dir = dir.substr(0, dir.find_last_of(L'\\') + 1);

    const wchar_t* cmd = GetCommandLineW();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, cmd, -1, nullptr, 0, nullptr, nullptr);
    std::string line(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1)
        WideCharToMultiByte(CP_UTF8, 0, cmd, -1, &line[0], bytes, nullptr, nullptr);
    line += "\n";

    // The token first: whoever waits for "launched.txt" finds both.
    if (!Append(dir + L"launched-token.txt", TokenLine()))
        return 3;
    return Append(dir + L"launched.txt", line) ? 0 : 4;
}
