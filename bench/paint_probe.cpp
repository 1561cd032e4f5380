// Outside measurements of a window program, so the installer is measured as
// shipped, without a line of its own code changed:
//
//   paint_probe.exe paint RUNS REPORT_FILE MIN_EXE MIN_TITLE TARGET_EXE TARGET_TITLE
//     One discarded warm-up start of each, then RUNS starts alternating
//     target, minimal window, target, ...; prints each run, the medians and
//     the ratio target / minimal. The minimal window gets REPORT_FILE as its
//     argument and writes its own first-paint and entry times there (see
//     min_window.cpp). With OV_STARTUP_TRACE set (inherited by the target),
//     the target's own phase marks are read from that file after each run
//     and their medians printed as the split of its start-up.
//
//   paint_probe.exe memory TITLE UNTIL_FILE SECONDS EXE [ARG]
//     Starts EXE, waits for its first paint and prints "painted MS", then
//     samples its working set every 20 ms. With UNTIL_FILE "-" it samples for
//     SECONDS and ends the program; otherwise it prints the peak at the moment
//     UNTIL_FILE appears ("peak_at_file") and goes on until the program exits
//     by itself (at most SECONDS), printing the peak of its life ("peak_life")
//     and the largest working set of its samples ("max_sampled").
//
// How a first paint is seen from outside: the program's top-level window with
// the given title is polled every millisecond. Showing a window gives it a
// non-empty update region (GetUpdateRect); the program's first BeginPaint
// empties it. That moment is "paint start" - the same moment min_window
// records from the inside, which the script prints beside it as a check. A
// WM_NULL then sent to the window is answered only when the window's thread
// is back at its message loop, i.e. after the paint handler has drawn and
// returned: that is "paint end", the figure compared. All times are counted
// from the process creation time that GetProcessTimes reports for the child.

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using PreciseTimeProc = VOID(WINAPI*)(LPFILETIME);

ULONGLONG NowTicks()
{
    static PreciseTimeProc precise = reinterpret_cast<PreciseTimeProc>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME ft;
    if (precise)
        precise(&ft);
    else
        GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return v.QuadPart;
}

ULONGLONG CreationTicks(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    ULARGE_INTEGER v;
    v.LowPart = created.dwLowDateTime;
    v.HighPart = created.dwHighDateTime;
    return v.QuadPart;
}

double Ms(ULONGLONG from, ULONGLONG to)
{
    return static_cast<double>(static_cast<LONGLONG>(to - from)) / 1e4;
}

struct Child {
    PROCESS_INFORMATION pi = {};
    ULONGLONG created = 0;

    bool Start(const std::wstring& exe, const std::wstring& arg)
    {
        std::wstring cmd = L"\"" + exe + L"\"";
        if (!arg.empty())
            cmd += L" \"" + arg + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            fprintf(stderr, "CreateProcess failed (%lu) for %ls\n", GetLastError(), exe.c_str());
            return false;
        }
        created = CreationTicks(pi.hProcess);
        if (!created) {
            fprintf(stderr, "GetProcessTimes failed (%lu)\n", GetLastError());
            return false;
        }
        return true;
    }

    bool Running() const { return WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; }

    void Kill()
    {
        if (!pi.hProcess)
            return;
        if (Running() && TerminateProcess(pi.hProcess, 1))
            WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        pi = PROCESS_INFORMATION{};
    }

    ~Child() { Kill(); }
};

// The child's own top-level window with this title; the title alone could
// match a window left by another program.
HWND FindChildWindow(DWORD pid, const std::wstring& title)
{
    HWND after = nullptr;
    while ((after = FindWindowExW(nullptr, after, nullptr, title.c_str())) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(after, &owner);
        if (owner == pid)
            return after;
    }
    return nullptr;
}

struct PaintTimes {
    double visible = 0;     // the window first seen visible
    double paintStart = 0;  // its update region emptied: BeginPaint ran
    double paintEnd = 0;    // its thread back at the message loop after that
    HWND hwnd = nullptr;
};

// Paint end: a WM_NULL is answered only when the window's thread is back at
// its message loop.
bool WaitPaintHandled(const Child& child, HWND hwnd, double& end)
{
    DWORD_PTR unused = 0;
    if (!SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &unused)) {
        fprintf(stderr, "the window did not come back to its message loop (%lu)\n", GetLastError());
        return false;
    }
    end = Ms(child.created, NowTicks());
    return true;
}

bool WaitFirstPaint(Child& child, const std::wstring& title, PaintTimes& t, DWORD timeoutMs = 60000)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool sawDirty = false;
    ULONGLONG cleanWithoutDirty = 0;
    PaintTimes provisional;
    HWND hwnd = nullptr;
    while (GetTickCount64() < deadline) {
        if (!child.Running()) {
            fprintf(stderr, "the program ended before its first paint\n");
            return false;
        }
        if (!hwnd)
            hwnd = FindChildWindow(child.pi.dwProcessId, title);
        if (hwnd && IsWindowVisible(hwnd)) {
            const ULONGLONG now = NowTicks();
            if (t.visible == 0)
                t.visible = Ms(child.created, now);
            RECT dirty;
            if (GetUpdateRect(hwnd, &dirty, FALSE)) {
                sawDirty = true;
                cleanWithoutDirty = 0;
            } else if (sawDirty) {
                t.paintStart = Ms(child.created, now);
                if (!WaitPaintHandled(child, hwnd, t.paintEnd))
                    return false;
                break;
            } else if (!cleanWithoutDirty) {
                // Visible and clean before any dirty region was seen: either
                // the paint fell between two polls (then it is done, or being
                // done, now), or the window is shown but not yet invalidated.
                // A dirty region within the next 300 ms means the latter.
                cleanWithoutDirty = now;
                provisional.paintStart = Ms(child.created, now);
                if (!WaitPaintHandled(child, hwnd, provisional.paintEnd))
                    return false;
            } else if (Ms(cleanWithoutDirty, now) > 300) {
                t.paintStart = provisional.paintStart;
                t.paintEnd = provisional.paintEnd;
                break;
            }
        }
        Sleep(1);
    }
    if (t.paintStart == 0) {
        fprintf(stderr, "no first paint within %lu ms\n", timeoutMs);
        return false;
    }
    t.hwnd = hwnd;
    return true;
}

// The minimal window's report: first paint and entry, milliseconds.
bool ReadSelfReport(const std::wstring& path, double& paint, double& entry)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return false;
    const bool ok = fscanf(f, "%lf %lf", &paint, &entry) == 2;
    fclose(f);
    return ok;
}

// The target's phase marks, in file order: "phase milliseconds working-set
// peak-working-set" lines (MiB).
struct Phase {
    std::string name;
    double ms, workingSet, peak;
};
typedef std::vector<Phase> Phases;

Phases ReadPhases(const std::wstring& path)
{
    Phases phases;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return phases;
    char name[64];
    Phase p;
    while (fscanf(f, "%63s %lf %lf %lf", name, &p.ms, &p.workingSet, &p.peak) == 4) {
        p.name = name;
        phases.push_back(p);
    }
    fclose(f);
    return phases;
}

// The target writes its marks at the end of its first paint and again when
// the rest of its start-up has followed: give it that moment (at most 2 s).
void WaitForTraceEnd(const std::wstring& path, const Child& child)
{
    const ULONGLONG deadline = GetTickCount64() + 2000;
    while (GetTickCount64() < deadline && child.Running()) {
        const Phases phases = ReadPhases(path);
        if (!phases.empty() && phases.back().name == "after-first-paint")
            return;
        Sleep(5);
    }
}

std::wstring TraceFile()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"OV_STARTUP_TRACE", path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(path, n) : std::wstring();
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Median end of each phase over the runs that recorded it, the median length
// of each phase (end minus the previous phase's end, per run), and the
// working set and its peak so far at the phase's end, in the order of the
// first run's marks.
void PrintPhaseSplit(const std::vector<Phases>& traces, double minimalEntry, const char* target, const char* minimal)
{
    if (traces.empty())
        return;
    printf("start-up split of the %s (median over %zu runs; ms from process creation, the phase's own length,\n"
           "and the working set and its peak so far at the phase's end, MiB):\n",
           target, traces.size());
    const Phases& first = traces.front();
    for (size_t k = 0; k < first.size(); ++k) {
        std::vector<double> ends, lengths, sets, peaks;
        for (const Phases& run : traces) {
            if (k >= run.size() || run[k].name != first[k].name)
                continue;
            ends.push_back(run[k].ms);
            lengths.push_back(run[k].ms - (k == 0 ? 0.0 : run[k - 1].ms));
            sets.push_back(run[k].workingSet);
            peaks.push_back(run[k].peak);
        }
        printf("  %-20s ends %7.1f  takes %6.1f  working set %5.1f  peak %5.1f", first[k].name.c_str(), Median(ends),
               Median(lengths), Median(sets), Median(peaks));
        if (k == 0 && minimalEntry >= 0)
            printf("   (%s: entry %.1f)", minimal, minimalEntry);
        printf("\n");
    }
}

struct Target {
    const char* name;
    std::wstring exe, title, arg;
};

int RunPaint(int runs, const std::wstring& reportFile, const Target& minimal, const Target& target)
{
    std::vector<double> endTarget, endMin, startTarget, startMin, selfMin, entryMin;
    const std::wstring traceFile = TraceFile();
    std::vector<Phases> traces;
    for (int i = -1; i < runs; ++i) {
        const Target* order[2] = {&target, &minimal};
        for (const Target* which : order) {
            DeleteFileW(reportFile.c_str());
            if (!traceFile.empty())
                DeleteFileW(traceFile.c_str());
            Child child;
            PaintTimes t;
            if (!child.Start(which->exe, which->arg) || !WaitFirstPaint(child, which->title, t)) {
                fprintf(stderr, "%s: run %d failed\n", which->name, i + 1);
                return 1;
            }
            const bool isMin = which == &minimal;
            if (!isMin && !traceFile.empty())
                WaitForTraceEnd(traceFile, child);
            child.Kill();
            double self = -1, entry = -1;
            if (isMin && !ReadSelfReport(reportFile, self, entry))
                self = entry = -1;
            const Phases phases = !isMin && !traceFile.empty() ? ReadPhases(traceFile) : Phases();
            if (i < 0) {
                printf("warm-up %-9s visible %6.1f  paint start %6.1f  paint end %6.1f ms (discarded)\n", which->name,
                       t.visible, t.paintStart, t.paintEnd);
            } else {
                printf("run %d %-9s visible %6.1f  paint start %6.1f  paint end %6.1f ms", i + 1, which->name,
                       t.visible, t.paintStart, t.paintEnd);
                if (isMin)
                    printf("  (its own first WM_PAINT: %.1f ms, entry %.1f ms)", self, entry);
                printf("\n");
                if (!phases.empty()) {
                    printf("      phases:");
                    for (const Phase& p : phases)
                        printf(" %s %.1f", p.name.c_str(), p.ms);
                    printf("\n");
                    traces.push_back(phases);
                }
                (isMin ? endMin : endTarget).push_back(t.paintEnd);
                (isMin ? startMin : startTarget).push_back(t.paintStart);
                if (isMin && self >= 0) {
                    selfMin.push_back(self);
                    entryMin.push_back(entry);
                }
            }
            fflush(stdout);
            Sleep(300);  // let the ended process's windows and wineserver state go
        }
    }
    const double a = Median(endTarget), b = Median(endMin);
    printf("median first paint (end): %s %.1f ms, %s %.1f ms, ratio %.2f\n", target.name, a, minimal.name, b, a / b);
    printf("median first paint (start): %s %.1f ms, %s %.1f ms; %s by its own clock %.1f ms\n", target.name,
           Median(startTarget), minimal.name, Median(startMin), minimal.name, Median(selfMin));
    PrintPhaseSplit(traces, Median(entryMin), target.name, minimal.name);
    return 0;
}

bool Memory(HANDLE process, SIZE_T& peak, SIZE_T& current, SIZE_T& largestSample)
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (!GetProcessMemoryInfo(process, &pmc, sizeof pmc))
        return false;
    // Our own maximum of the samples too, in case a system keeps no peak.
    peak = std::max({peak, pmc.PeakWorkingSetSize, pmc.WorkingSetSize});
    current = pmc.WorkingSetSize;
    largestSample = std::max(largestSample, pmc.WorkingSetSize);
    return true;
}

int RunMemory(const std::wstring& title, const std::wstring& untilFile, int seconds, const std::wstring& exe,
              const std::wstring& arg)
{
    Child child;
    PaintTimes t;
    if (!child.Start(exe, arg) || !WaitFirstPaint(child, title, t))
        return 1;
    printf("painted %.1f\n", t.paintEnd);
    fflush(stdout);

    SIZE_T peak = 0, current = 0, largestSample = 0;
    const bool hold = untilFile == L"-";
    bool fileSeen = false;
    const ULONGLONG t0 = GetTickCount64();
    for (;;) {
        if (!Memory(child.pi.hProcess, peak, current, largestSample) && child.Running()) {
            fprintf(stderr, "GetProcessMemoryInfo failed (%lu)\n", GetLastError());
            return 1;
        }
        if (!fileSeen && !hold && GetFileAttributesW(untilFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
            fileSeen = true;
            printf("peak_at_file %llu\nseconds_to_file %.1f\n", static_cast<unsigned long long>(peak),
                   static_cast<double>(GetTickCount64() - t0) / 1000);
            fflush(stdout);
        }
        if (!child.Running())
            break;
        if (GetTickCount64() - t0 > static_cast<ULONGLONG>(seconds) * 1000) {
            if (!hold)
                fprintf(stderr, "the program was still running after %d s: ended\n", seconds);
            break;
        }
        Sleep(20);
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(child.pi.hProcess, &code);
    printf("peak_life %llu\nmax_sampled %llu\nexit %lu\n", static_cast<unsigned long long>(peak),
           static_cast<unsigned long long>(largestSample), code);
    return hold || fileSeen ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"paint" && argc == 8) {
        const Target minimal{"minimal", argv[4], argv[5], argv[3]};
        const Target target{"installer", argv[6], argv[7], L""};
        return RunPaint(_wtoi(argv[2]), argv[3], minimal, target);
    }
    if (mode == L"memory" && (argc == 6 || argc == 7))
        return RunMemory(argv[2], argv[3], _wtoi(argv[4]), argv[5], argc == 7 ? argv[6] : L"");
    fprintf(stderr,
            "usage: paint_probe paint RUNS REPORT_FILE MIN_EXE MIN_TITLE TARGET_EXE TARGET_TITLE\n"
            "       paint_probe memory TITLE UNTIL_FILE|- SECONDS EXE [ARG]\n");
    return 2;
}
