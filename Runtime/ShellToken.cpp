#include "Runtime/ShellToken.h"

#include <vector>

#include "Runtime/UniqueHandle.h"

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
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated;
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
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process)
        return nullptr;
    UniqueHandle shellToken, primary;
    if (OpenProcessToken(process.Get(), TOKEN_DUPLICATE, shellToken.Receive())) {
        // The rights CreateProcessWithTokenW needs of a primary token, and
        // the query and duplicate rights impersonation needs.
        if (!DuplicateTokenEx(shellToken.Get(),
                              TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                                  TOKEN_ADJUST_SESSIONID | TOKEN_IMPERSONATE,
                              nullptr, SecurityImpersonation, TokenPrimary, primary.Receive()))
            primary.Reset();
    }
    // Closing the others must not change the reason the caller reads.
    const DWORD error = GetLastError();
    shellToken.Reset();
    process.Reset();
    SetLastError(error);
    return primary.Release();
}

bool SameUserAsProcess(HANDLE token)
{
    UniqueHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.Receive()))
        return false;
    const std::vector<BYTE> mine = UserSid(own.Get());
    const std::vector<BYTE> theirs = UserSid(token);
    return !mine.empty() && mine == theirs;
}
