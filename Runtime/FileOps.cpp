#include "Runtime/FileOps.h"

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
