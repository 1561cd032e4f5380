#include "support/TestSupport.h"

#include <atomic>
#include <cstdio>

#include "Runtime/SimpleThread.h"

namespace testsupport {

namespace {
// Wine cannot remove a Unix link to a folder through the Windows calls;
// `options` go to rm.
void RemoveUnixLink(const std::wstring& path, const wchar_t* options = L"-f");
}  // namespace

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
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link goes itself; what it points to is not ours to delete.
        if (!RemoveDirectoryW(path.c_str()) && !DeleteFileW(path.c_str()))
            RemoveUnixLink(path);
        return;
    }
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
            const std::wstring child = path + L"\\" + name;
            if (name == L"." || name == L"..")
                continue;
            RemoveTree(child);
        } while (FindNextFileW(find, &fd));
        FindClose(find);
    }
    // Wine lists no Unix link whose target is gone, and keeps the folder.
    if (!RemoveDirectoryW(path.c_str()) && GetLastError() == ERROR_DIR_NOT_EMPTY)
        RemoveUnixLink(path, L"-rf");
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

bool StopWithin(CSimpleThread& thread, DWORD ms)
{
    const ULONGLONG begin = GetTickCount64();
    thread.Stop(ms);
    // A stop that timed out has waited the whole bound before terminating.
    return GetTickCount64() - begin < ms && !thread.IsRunning();
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

std::wstring StandinDir()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    dir = dir.substr(0, dir.find_last_of(L'\\'));  // ...\tests
    return dir.substr(0, dir.find_last_of(L'\\')) + L"\\standins";
}

namespace {

// The Unix path of a Windows path under Wine; empty elsewhere.
std::string UnixPath(const std::wstring& path)
{
    typedef char*(CDECL * ToUnix)(LPCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    ToUnix toUnix = kernel ? reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "wine_get_unix_file_name")))
                           : nullptr;
    if (!toUnix)
        return std::string();
    char* unix = toUnix(path.c_str());
    if (!unix)
        return std::string();
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

std::wstring Utf8ToWide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
    return wide;
}

}  // namespace

namespace {

// Runs a Unix program under Wine (Wine starts those too); their process
// handle cannot be waited for, so the caller polls for the effect.
bool StartUnixProgram(const wchar_t* program, std::wstring commandLine)
{
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);
    return true;
}

bool PollFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 100; ++i) {
        if (done())
            return true;
        Sleep(50);
    }
    return false;
}

void RemoveUnixLink(const std::wstring& path, const wchar_t* options)
{
    const std::string unixPath = UnixPath(path);
    if (!unixPath.empty() &&
        StartUnixProgram(L"Z:\\bin\\rm", std::wstring(L"rm ") + options + L" \"" + Utf8ToWide(unixPath) + L"\""))
        PollFor([&] { return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

}  // namespace

bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target)
{
    const std::string unixLink = UnixPath(link), unixTarget = UnixPath(target);
    if (unixLink.empty() || unixTarget.empty()) {
        const DWORD attrs = GetFileAttributesW(target.c_str());
        const DWORD flags = (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
                                ? SYMBOLIC_LINK_FLAG_DIRECTORY
                                : 0;
        return CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) &&
               GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    const std::wstring cmd = L"ln -s \"" + Utf8ToWide(unixTarget) + L"\" \"" + Utf8ToWide(unixLink) + L"\"";
    return StartUnixProgram(L"Z:\\bin\\ln", cmd) &&
           PollFor([&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

}  // namespace testsupport
