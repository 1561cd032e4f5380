/* A DLL an attacker would drop beside the installer under a system DLL's
 * name. Loaded into a process, it records that fact in "<its own path>.loaded"
 * (the loading program's path inside) and ends the process at once with exit
 * code 0x7E57, so a load shows up as a file and a clear exit code, never as a
 * hang or a crash dialog. */

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t record[MAX_PATH + 16];
    DWORD n = GetModuleFileNameW(self, record, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        lstrcatW(record, L".loaded");
        HANDLE f = CreateFileW(record, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (f != INVALID_HANDLE_VALUE) {
            wchar_t host[MAX_PATH];
            DWORD len = GetModuleFileNameW(NULL, host, MAX_PATH);
            DWORD written = 0;
            WriteFile(f, host, len * sizeof(wchar_t), &written, NULL);
            CloseHandle(f);
        }
    }
    TerminateProcess(GetCurrentProcess(), 0x7E57);
    return FALSE;
}
