// What an attacker would have run instead of the publisher's package: it only
// leaves its mark, "C:\substituted.txt" with its command line, so a test can
// tell that it ran. Exit code 0.

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    HANDLE f = CreateFileW(L"C:\\substituted.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return 1;
    const wchar_t* cmd = GetCommandLineW();
    DWORD written = 0;
    WriteFile(f, cmd, static_cast<DWORD>(lstrlenW(cmd) * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(f);
    return 0;
}
