#include "Runtime/ShellToken.h"

#include <vector>

namespace {

// The user SID of `token`, as its bytes; empty when it cannot be read.
std::vector<BYTE> UserSid(HANDLE token)
{
    DWORD size = 0;
    GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
    if (size == 0)
        return {};
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size))
        return {};
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    if (!IsValidSid(sid))
        return {};
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

}  // namespace

bool ProcessIsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) && elevation.TokenIsElevated;
    CloseHandle(token);
    return elevated;
}

DWORD ShellProcessId()
{
    DWORD pid = 0;
    if (HWND shell = GetShellWindow())
        GetWindowThreadProcessId(shell, &pid);
    return pid;
}

HANDLE DuplicateProcessToken(DWORD pid)
{
    if (!pid) {
        SetLastError(ERROR_NOT_FOUND);
        return nullptr;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return nullptr;
    HANDLE shellToken = nullptr, primary = nullptr;
    if (OpenProcessToken(process, TOKEN_DUPLICATE, &shellToken)) {
        // The rights CreateProcessWithTokenW needs of a primary token, and
        // the query and duplicate rights impersonation needs.
        if (!DuplicateTokenEx(shellToken,
                              TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                                  TOKEN_ADJUST_SESSIONID | TOKEN_IMPERSONATE,
                              nullptr, SecurityImpersonation, TokenPrimary, &primary))
            primary = nullptr;
    }
    const DWORD error = GetLastError();
    if (shellToken)
        CloseHandle(shellToken);
    CloseHandle(process);
    SetLastError(error);
    return primary;
}

bool SameUserAsProcess(HANDLE token)
{
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own))
        return false;
    const std::vector<BYTE> mine = UserSid(own);
    CloseHandle(own);
    const std::vector<BYTE> theirs = UserSid(token);
    return !mine.empty() && mine == theirs;
}
