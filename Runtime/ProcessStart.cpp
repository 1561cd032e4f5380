#include "Runtime/ProcessStart.h"

#include <vector>

namespace {

// Starts the process and leaves its handles open in `pi`; returns 0 or the
// system error code.
DWORD Launch(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION& pi,
             const std::wstring& currentDir = std::wstring())
{
    // CreateProcessW may write into the command line, so it gets its own copy.
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    pi = PROCESS_INFORMATION{};
    if (!CreateProcessW(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi))
        return GetLastError();
    return 0;
}

}  // namespace

DWORD StartProcess(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION* out)
{
    PROCESS_INFORMATION pi;
    DWORD error = Launch(program, commandLine, pi);
    if (error != 0)
        return error;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    // Closed handles are not handed on: a caller using them would reach
    // whatever object the system gives those values next.
    pi.hProcess = nullptr;
    pi.hThread = nullptr;
    if (out)
        *out = pi;
    return 0;
}

uint64_t RunProcess(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION* out,
                    const std::wstring& currentDir)
{
    PROCESS_INFORMATION pi;
    DWORD error = Launch(program, commandLine, pi, currentDir);
    if (error != 0)
        return (uint64_t{1} << 32) | error;
    if (out) {
        *out = pi;
    } else {
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    return 0;
}
