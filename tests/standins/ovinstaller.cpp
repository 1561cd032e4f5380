// Stand-in for the installation package "ovinstaller.exe". Started as
//   <path>\ovinstaller.exe /S /unpack=<dir> /launch=off
// it creates <dir> (the directory runs unquoted up to " /launch=", so it may
// hold blanks), writes its command line to "<dir>\installer.txt" and the
// current directory it was started in to "<dir>\installer-cwd.txt", and places
// the launcher stand-in, carried as resource 1 of type RCDATA, there as
// "OrvelLauncher.exe". OV_STANDIN_INSTALL_MS in the environment makes it take
// that long first, like a real package would; OV_STANDIN_STARTED names a file
// that gets the command line too (a benchmark learns from it when the package
// ran and which directory the installer gave it). Exit code 0 on success.

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace {

bool WriteAll(const std::wstring& path, const void* data, DWORD size)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(f, data, size, &written, nullptr);
    return CloseHandle(f) && ok && written == size;
}

std::string ToUtf8(const std::wstring& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    return out;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const std::wstring cmd = GetCommandLineW();
    const std::wstring unpack = L" /unpack=";
    const size_t start = cmd.find(unpack);
    if (start == std::wstring::npos || cmd.find(L" /S ") == std::wstring::npos)
        return 10;
    const size_t from = start + unpack.size();
    const size_t end = cmd.find(L" /launch=off", from);
    if (end == std::wstring::npos)
        return 11;
    const std::wstring dir = cmd.substr(from, end - from);

    wchar_t delay[32] = {};
    if (GetEnvironmentVariableW(L"OV_STANDIN_INSTALL_MS", delay, 32) > 0)
        Sleep(static_cast<DWORD>(_wtoi(delay)));

    int rc = SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
    if (rc != ERROR_SUCCESS && rc != ERROR_ALREADY_EXISTS && rc != ERROR_FILE_EXISTS)
        return 12;

    const std::string line = ToUtf8(cmd) + "\n";
    if (!WriteAll(dir + L"\\installer.txt", line.data(), static_cast<DWORD>(line.size())))
        return 13;
    wchar_t started[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"OV_STANDIN_STARTED", started, MAX_PATH);
    if (n > 0 && n < MAX_PATH && !WriteAll(started, line.data(), static_cast<DWORD>(line.size())))
        return 13;
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring where = cwd;
    if (where.size() > 3 && where.back() == L'\\')
        where.pop_back();
    const std::string cwdLine = ToUtf8(where) + "\n";
    if (!WriteAll(dir + L"\\installer-cwd.txt", cwdLine.data(), static_cast<DWORD>(cwdLine.size())))
        return 13;

    HRSRC res = FindResourceW(instance, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = res ? LoadResource(instance, res) : nullptr;
    const void* payload = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = res ? SizeofResource(instance, res) : 0;
    if (!payload || size == 0)
        return 14;
    return WriteAll(dir + L"\\OrvelLauncher.exe", payload, size) ? 0 : 15;
}
