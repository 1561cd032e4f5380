#include "app/CommonUtils.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <vector>

#include "Runtime/Logger.h"

std::wstring GetModuleDir()
{
    static std::wstring dir;
    if (!dir.empty())
        return dir;
    // 512 characters cover ordinary installs; a longer path would come back
    // truncated, so grow instead of cutting it.
    std::vector<wchar_t> buf(512);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0)
            return std::wstring();
        if (n < buf.size())
            break;
        if (buf.size() >= 32768)
            return std::wstring();
        buf.assign(buf.size() * 2, L'\0');
    }
    PathRemoveFileSpecW(buf.data());
    dir = buf.data();
    return dir;
}

std::wstring FormatSize(uint64_t bytes)
{
    static const wchar_t* const kUnits[] = {L"%dB", L"%dKB", L"%dMB", L"%dGB", L"%dTB"};
    const size_t kLast = sizeof(kUnits) / sizeof(kUnits[0]) - 1;
    size_t unit = 0;
    uint64_t divisor = 1;
    if (bytes >= 1000) {
        while (unit < kLast) {
            divisor *= 1024;
            ++unit;
            if (bytes < divisor * 1000)
                break;
        }
    }
    // The quotient is at most 2^64 / 2^40, so it always fits an int.
    wchar_t text[259];
    _snwprintf(text, 258, kUnits[unit], static_cast<int>(bytes / divisor));
    text[258] = L'\0';
    return text;
}

bool CreateDir(const std::wstring& path)
{
    const DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    // A file where the directory must be is a failure: calling it a directory
    // would send every later step into the file, retrying without end.
    const int ret =
        attrs != INVALID_FILE_ATTRIBUTES ? ERROR_FILE_EXISTS : SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    if (ret == ERROR_SUCCESS)
        return true;
    OV_LOG_AT(LOG_ERROR, 708, L".\\CommonUtils", L"CreateDir：%s ret：%d", path.c_str(), ret);
    return false;
}

bool DeleteFileOnce(const std::wstring& path)
{
    if (!PathFileExistsW(path.c_str()))
        return true;
    if (!DeleteFileW(path.c_str())) {
        Sleep(1);
        return false;
    }
    return true;
}

bool MoveFileOnce(const std::wstring& from, const std::wstring& to)
{
    if (!PathFileExistsW(from.c_str()))
        return false;
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        Sleep(1);
        return false;
    }
    return true;
}

int64_t GetFileSize64(const std::wstring& path)
{
    // Binary mode: the result is a byte count, never a translated position.
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        int64_t size = -1;
        if (_fseeki64(f, 0, SEEK_END) == 0)
            size = _ftelli64(f);
        fclose(f);
        return size;
    }
    // Files others hold without read sharing. A wildcard would make the
    // search report some other file's size, so such a name is not searched.
    if (path.find_first_of(L"*?") != std::wstring::npos)
        return -1;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(path.c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return -1;
    FindClose(find);
    return static_cast<int64_t>((static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
}

namespace {

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM param, LPARAM data)
{
    if (message == BFFM_INITIALIZED) {
        const wchar_t* initial = reinterpret_cast<const wchar_t*>(data);
        wchar_t current[MAX_PATH];
        if (!initial || !*initial) {
            DWORD n = GetCurrentDirectoryW(MAX_PATH, current);
            if (n == 0 || n >= MAX_PATH)
                return 0;  // nothing to preselect
            initial = current;
        }
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(initial));
    } else if (message == BFFM_SELCHANGED) {
        wchar_t path[MAX_PATH] = {0};
        if (!SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(param), path))
            path[0] = L'\0';  // a virtual folder: clear the previous path
        SendMessageW(dialog, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}

}  // namespace

std::wstring TerminateFolderPath(const std::wstring& path)
{
    if (path.empty() || path.back() == L'\\')
        return path;
    return path + L"\\";
}

std::wstring BrowseForFolder(HWND owner, const std::wstring& initialPath)
{
    wchar_t displayName[MAX_PATH] = {0};
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName;
    info.lpszTitle = L"选择文件夹";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(initialPath.c_str());

    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen)
        return std::wstring();
    wchar_t path[MAX_PATH] = {0};
    BOOL ok = SHGetPathFromIDListW(chosen, path);
    CoTaskMemFree(chosen);
    return ok ? TerminateFolderPath(path) : std::wstring();
}

namespace {

// Starts the process and leaves its handles open in `pi`; returns 0 or the
// system error code.
DWORD Launch(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION& pi)
{
    // CreateProcessW may write into the command line, so it gets its own copy.
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    pi = PROCESS_INFORMATION{};
    if (!CreateProcessW(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
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

uint64_t RunProcess(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION* out)
{
    PROCESS_INFORMATION pi;
    DWORD error = Launch(program, commandLine, pi);
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
