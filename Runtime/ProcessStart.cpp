#include "Runtime/ProcessStart.h"

#include <vector>

DWORD StartProcess(const std::wstring& program, const std::wstring& commandLine, UniqueProcess* out,
                   const std::wstring& currentDir)
{
    // CreateProcessW may write into the command line, so it gets its own copy.
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi)) {
        // A failure must never read as 0, the success code.
        const DWORD error = GetLastError();
        return error != 0 ? error : static_cast<DWORD>(ERROR_GEN_FAILURE);
    }
    UniqueProcess started(pi);
    if (out)
        *out = std::move(started);
    return 0;
}
