// The smallest honest Win32 window program, the yardstick the installer's
// start-up and memory are measured against: registers a class, creates and
// shows a window of the installer's size, paints a background and one line
// of text, and runs a plain message loop.
//
// Usage: min_window.exe [REPORT_FILE]
// With REPORT_FILE, the first WM_PAINT writes the milliseconds from this
// process's creation (GetProcessTimes) to that moment, and to the entry of
// wWinMain, as text ("PAINT ENTRY"), into the file; run_installer_bench.sh
// prints the first beside what paint_probe saw from outside, so the outside
// method is checked against the inside one, and the second beside the
// installer's own entry mark (the cost of loading the program and its DLLs).

#include <windows.h>

#include <cstdio>

namespace {

const wchar_t kClassName[] = L"OvBenchMinWindow";
const wchar_t kTitle[] = L"OvBench minimal window";

const wchar_t* g_reportFile = nullptr;
bool g_painted = false;
FILETIME g_entry;

using PreciseTimeProc = VOID(WINAPI*)(LPFILETIME);

// The precise clock where the system has one (Wine always does); the plain
// one is only 15.6 ms coarse on Windows.
void NowFileTime(FILETIME* ft)
{
    static PreciseTimeProc precise = reinterpret_cast<PreciseTimeProc>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    if (precise)
        precise(ft);
    else
        GetSystemTimeAsFileTime(ft);
}

ULONGLONG Ticks(const FILETIME& ft)
{
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return v.QuadPart;
}

// Called at the top of the first WM_PAINT, before any drawing, which is the
// same moment paint_probe detects from outside (the update region emptied by
// BeginPaint).
void RecordFirstPaint()
{
    FILETIME now, created, exited, kernel, user;
    NowFileTime(&now);
    if (!g_reportFile || !GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return;
    const double ms = static_cast<double>(Ticks(now) - Ticks(created)) / 1e4;
    const double entryMs = static_cast<double>(Ticks(g_entry) - Ticks(created)) / 1e4;
    char text[64];
    const int n = snprintf(text, sizeof text, "%.1f %.1f\n", ms, entryMs);
    HANDLE file = CreateFileW(g_reportFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_PAINT: {
        if (!g_painted) {
            g_painted = true;
            RecordFirstPaint();
        }
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) {
            RECT rc;
            GetClientRect(hwnd, &rc);
            FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            DrawTextW(dc, kTitle, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            EndPaint(hwnd, &ps);
        }
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int)
{
    NowFileTime(&g_entry);
    // The whole argument string is the one path, quotes dropped: parsing it
    // with CommandLineToArgvW would load shell32 and inflate the yardstick.
    if (commandLine) {
        wchar_t* path = commandLine;
        while (*path == L' ' || *path == L'"')
            ++path;
        wchar_t* end = path + lstrlenW(path);
        while (end > path && (end[-1] == L' ' || end[-1] == L'"'))
            *--end = L'\0';
        if (*path)
            g_reportFile = path;
    }

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc))
        return 1;

    // The installer's window size, so both paint the same area.
    HWND hwnd = CreateWindowExW(0, kClassName, kTitle, WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 100, 100, 540, 355,
                                nullptr, nullptr, instance, nullptr);
    if (!hwnd)
        return 1;
    ShowWindow(hwnd, SW_SHOWNORMAL);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
