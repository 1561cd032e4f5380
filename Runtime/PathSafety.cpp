#include "Runtime/PathSafety.h"

#include <shlwapi.h>

#include <vector>

namespace {

// The path made absolute with "." and ".." resolved, so the walk sees the
// folders the system will use.
std::wstring FullPath(const std::wstring& path)
{
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
        if (n == 0)
            return path;
        if (n < buf.size())
            return std::wstring(buf.data(), n);
        buf.resize(n + 1);
    }
}

// True when the reparse point at `path` redirects its name. Its tag comes
// from the directory listing; no tag (Wine reports none) counts as a link.
bool IsNameRedirect(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return true;
    FindClose(find);
    const DWORD tag = data.dwReserved0;
    return tag == 0 || IsReparseTagNameSurrogate(tag);
}

}  // namespace

PathCheck CheckPathForLinks(const std::wstring& dir)
{
    PathCheck result;
    const std::wstring full = FullPath(dir);
    const wchar_t* afterRoot = PathSkipRootW(full.c_str());
    size_t at = afterRoot ? static_cast<size_t>(afterRoot - full.c_str()) : 0;
    while (at < full.size()) {
        size_t end = full.find_first_of(L"\\/", at);
        if (end == std::wstring::npos)
            end = full.size();
        if (end > at) {
            const std::wstring part = full.substr(0, end);
            const DWORD attrs = GetFileAttributesW(part.c_str());
            if (attrs == INVALID_FILE_ATTRIBUTES)
                break;  // not there yet
            if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameRedirect(part)) {
                result.verdict = PathVerdict::kLink;
                result.at = part;
                return result;
            }
            if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
                result.verdict = PathVerdict::kFileInTheWay;
                result.at = part;
                return result;
            }
        }
        at = end + 1;
    }
    return result;
}

bool DirectoryPin::Pin(const std::wstring& dir)
{
    Release();
    // No data access and no delete sharing; a link at the last name is opened
    // itself so that it can be told apart below. Its descriptor can be read
    // through the pin, so what is judged is the directory held.
    HANDLE handle = CreateFileW(dir.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        SetLastError(error);
        return false;
    }
    const bool link = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      (info.ReparseTag == 0 || IsReparseTagNameSurrogate(info.ReparseTag));
    if (!(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || link) {
        CloseHandle(handle);
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    handle_ = handle;
    return true;
}

void DirectoryPin::Release()
{
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}
