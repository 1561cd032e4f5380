#include "Runtime/StartupTrace.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>

namespace {

const int kMaxMarks = 24;

struct TraceMark {
    const char* phase;
    ULONGLONG at;  // 100 ns units of the system time
    SIZE_T workingSet;
    SIZE_T peakWorkingSet;
};

bool g_begun = false;
bool g_enabled = false;
bool g_flushed = false;  // after the last Flush
wchar_t g_path[MAX_PATH];
TraceMark g_marks[kMaxMarks];
int g_count = 0;

using PreciseTimeProc = VOID(WINAPI*)(LPFILETIME);
PreciseTimeProc g_precise = nullptr;
using MemoryInfoProc = BOOL(WINAPI*)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
MemoryInfoProc g_memoryInfo = nullptr;

ULONGLONG Ticks(const FILETIME& ft)
{
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return v.QuadPart;
}

// The precise clock where there is one (Windows 8 and later, Wine): the plain
// one steps in 15.6 ms on Windows, coarser than the phases measured.
ULONGLONG Now()
{
    FILETIME ft;
    if (g_precise)
        g_precise(&ft);
    else
        GetSystemTimeAsFileTime(&ft);
    return Ticks(ft);
}

}  // namespace

void CStartupTrace::Begin()
{
    if (g_begun)
        return;
    g_begun = true;
    const DWORD n = GetEnvironmentVariableW(L"OV_STARTUP_TRACE", g_path, MAX_PATH);
    g_enabled = n > 0 && n < MAX_PATH;
    if (g_enabled) {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        g_precise = reinterpret_cast<PreciseTimeProc>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime")));
        // Kernel32's own copy of the psapi call (Windows 7 on): no extra DLL.
        g_memoryInfo = reinterpret_cast<MemoryInfoProc>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "K32GetProcessMemoryInfo")));
    }
}

bool CStartupTrace::Enabled()
{
    return g_enabled;
}

void CStartupTrace::Mark(const char* phase)
{
    if (!g_enabled || g_flushed || g_count >= kMaxMarks)
        return;
    TraceMark& mark = g_marks[g_count++];
    mark.phase = phase;
    mark.at = Now();
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (g_memoryInfo && g_memoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
        mark.workingSet = memory.WorkingSetSize;
        mark.peakWorkingSet = memory.PeakWorkingSetSize;
    }
}

void CStartupTrace::Flush(bool last)
{
    if (!g_enabled || g_flushed)
        return;
    g_flushed = last;
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return;
    const ULONGLONG origin = Ticks(created);
    char text[kMaxMarks * 96];
    int used = 0;
    for (int i = 0; i < g_count; ++i) {
        const double ms = static_cast<double>(static_cast<LONGLONG>(g_marks[i].at - origin)) / 1e4;
        const int n = snprintf(text + used, sizeof text - used, "%s %.2f %.2f %.2f\n", g_marks[i].phase, ms,
                               static_cast<double>(g_marks[i].workingSet) / 1048576.0,
                               static_cast<double>(g_marks[i].peakWorkingSet) / 1048576.0);
        if (n < 0 || n >= static_cast<int>(sizeof text) - used)
            break;
        used += n;
    }
    HANDLE file = CreateFileW(g_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(used), &written, nullptr);
    CloseHandle(file);
}
