#include "support/TestSupport.h"

#include <atomic>
#include <cstdio>

namespace testsupport {

TempDir::TempDir()
{
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, base);
    std::wstring root = (n > 0 && n < MAX_PATH) ? std::wstring(base, n) : L".\\";
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t name[96];
        _snwprintf(name, 95, L"ovtest_%lu_%lu_%d", GetCurrentProcessId(), GetTickCount(), counter++);
        path_ = root + name;
        if (CreateDirectoryW(path_.c_str(), nullptr))
            return;
    }
    path_.clear();
}

TempDir::~TempDir()
{
    if (!path_.empty())
        RemoveTree(path_);
}

std::wstring TempDir::operator/(const std::wstring& name) const
{
    return path_ + L"\\" + name;
}

void RemoveTree(const std::wstring& path)
{
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(find, &fd));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done())
            return true;
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return done();
        DWORD wait = static_cast<DWORD>(deadline - now);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait < 10 ? wait : 10, QS_ALLINPUT);
    }
}

void PumpMessagesFor(DWORD ms)
{
    PumpMessagesUntil([] { return false; }, ms);
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), bytes.size(), 1, f) == 1;
    return fclose(f) == 0 && ok;
}

std::string ReadBytes(const std::wstring& path)
{
    // Shares everything, so a file another handle holds (a locked package)
    // can still be read, as any reader may.
    std::string out;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return out;
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(file, buf, sizeof buf, &n, nullptr) && n > 0)
        out.append(buf, n);
    CloseHandle(file);
    return out;
}

bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace testsupport
