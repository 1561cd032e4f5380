#include "app/CommonUtils.h"

#include <shlobj.h>

#include <cstdio>

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
