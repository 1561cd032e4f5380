// Download benchmark: the engine (a download request on the download channel,
// writing through DownloadWriteFile) against curl.exe built from the same
// libcurl, alternating A B A B, plus what the two idle channels cost (CPU and
// wake-ups of their workers) and the CPU of a download the server throttles
// to a real line's rate.
//
// Usage: http_bench.exe URL SIZE OUTDIR CURL_EXE [RUNS] [IDLE_SECONDS]
//        http_bench.exe fetch URL SIZE PATH
// The second form makes one engine download in a process of its own; the
// script times it and curl.exe alike from outside for the throttled figure
// (under Wine, GetProcessTimes of another process reports the caller's own
// times, so a child's CPU cannot be read from here).
// Not a test: it prints numbers and returns 0 unless a download failed.

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Http/CurlWorkshop.h"
#include "Http/HttpDownloadFile.h"
#include "Http/HttpMgr.h"
#include "Runtime/MainThreadDispatch.h"

namespace {

struct Outcome {
    bool done = false;
    int type = -1;
    int code = -1;
};

void OnDone(uintptr_t user, int type, int code)
{
    Outcome* o = reinterpret_cast<Outcome*>(user);
    o->done = true;
    o->type = type;
    o->code = code;
}

double Seconds(const FILETIME& ft)
{
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 1e7;
}

double ProcessCpu(HANDLE process)
{
    FILETIME c, e, k, u;
    if (!GetProcessTimes(process, &c, &e, &k, &u))
        return 0;
    return Seconds(k) + Seconds(u);
}

double ThreadCpu(HANDLE thread)
{
    FILETIME c, e, k, u;
    if (!thread || !GetThreadTimes(thread, &c, &e, &k, &u))
        return 0;
    return Seconds(k) + Seconds(u);
}

double Now()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(freq.QuadPart);
}

void Pump(DWORD ms)
{
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        ULONGLONG now = GetTickCount64();
        if (now >= end)
            return;
        // Sleeps until a message or the end: the idle figure is the channels'
        // and the 500 ms pump's, not this loop's.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

int64_t FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d))
        return -1;
    return (static_cast<int64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

struct Sample {
    double seconds;
    double cpu;
};

bool RunEngine(const std::wstring& url, const std::wstring& path, uint64_t size, Sample& s)
{
    DeleteFileW(path.c_str());
    Outcome out;
    CHttpDownloadFile dl;
    const double cpu0 = ProcessCpu(GetCurrentProcess());
    const double t0 = Now();
    if (!dl.Download(url, path, size, reinterpret_cast<uintptr_t>(&out), &OnDone, nullptr))
        return false;
    // The installer's own loop: GetMessage sleeps until a message comes (the
    // engine's events, the 500 ms pump), so the figure is the engine's CPU,
    // not this loop's.
    MSG msg;
    while (!out.done && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    s.seconds = Now() - t0;
    s.cpu = ProcessCpu(GetCurrentProcess()) - cpu0;
    return out.type == 0 && FileSize(path) == static_cast<int64_t>(size);
}

bool RunCurlExe(const std::wstring& curlExe, const std::wstring& url, const std::wstring& path, uint64_t size, Sample& s)
{
    DeleteFileW(path.c_str());
    std::wstring cmd = curlExe + L" -s -o " + path + L" " + url;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    const double t0 = Now();
    if (!CreateProcessW(curlExe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    WaitForSingleObject(pi.hProcess, INFINITE);
    s.seconds = Now() - t0;
    s.cpu = 0;  // not readable from here under Wine (see the head of this file)
    DWORD rc = 1;
    GetExitCodeProcess(pi.hProcess, &rc);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return rc == 0 && FileSize(path) == static_cast<int64_t>(size);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One engine download in a process of its own (the "fetch" mode), so that a
// script can measure this process and curl.exe's the same way from outside.
int Fetch(const std::wstring& url, uint64_t size, const std::wstring& path)
{
    InitMainThreadDispatch();
    UINT_PTR timer = SetTimer(nullptr, 0, 500, &HttpTimerProc);
    Sample s = {};
    const bool ok = StartCommandChannel() && StartDownloadChannel() && RunEngine(url, path, size, s);
    if (ok)
        printf("fetched %.0f bytes in %.2f s, cpu %.3f s (ui thread %.3f, download worker %.3f, command worker %.3f; "
               "download worker waits %llu)\n",
               static_cast<double>(size), s.seconds, s.cpu, ThreadCpu(GetCurrentThread()),
               ThreadCpu(DownloadWorkshop()->ThreadHandle()), ThreadCpu(CommandWorkshop()->ThreadHandle()),
               static_cast<unsigned long long>(DownloadWorkshop()->WaitCount()));
    else
        fprintf(stderr, "engine download failed\n");
    KillTimer(nullptr, timer);
    ShutdownMainThreadDispatch();
    StopCommandChannel();
    StopDownloadChannel();
    return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 5 && std::wstring(argv[1]) == L"fetch")
        return Fetch(argv[2], _wcstoui64(argv[3], nullptr, 10), argv[4]);
    if (argc < 5) {
        fprintf(stderr, "usage: http_bench URL SIZE OUTDIR CURL_EXE [RUNS] [IDLE_SECONDS]\n"
                        "       http_bench fetch URL SIZE PATH\n");
        return 2;
    }
    const std::wstring url = argv[1];
    const uint64_t size = _wcstoui64(argv[2], nullptr, 10);
    const std::wstring dir = argv[3];
    const std::wstring curlExe = argv[4];
    const int runs = argc > 5 ? _wtoi(argv[5]) : 5;
    const int idleSeconds = argc > 6 ? _wtoi(argv[6]) : 10;
    const double mb = static_cast<double>(size) / 1e6;

    InitMainThreadDispatch();
    UINT_PTR timer = SetTimer(nullptr, 0, 500, &HttpTimerProc);
    if (!StartCommandChannel() || !StartDownloadChannel()) {
        fprintf(stderr, "channels did not start\n");
        return 1;
    }

    // Idle first, while nothing has run yet: both workers wait on empty queues.
    {
        HANDLE threads[2] = {CommandWorkshop()->ThreadHandle(), DownloadWorkshop()->ThreadHandle()};
        CCurlWorkshop* workshops[2] = {CommandWorkshop(), DownloadWorkshop()};
        Pump(200);  // the workers' first cycle is start-up, not idling
        const double w0 = ThreadCpu(threads[0]) + ThreadCpu(threads[1]);
        const uint64_t waits0[2] = {workshops[0]->WaitCount(), workshops[1]->WaitCount()};
        const double p0 = ProcessCpu(GetCurrentProcess());
        const double t0 = Now();
        Pump(static_cast<DWORD>(idleSeconds) * 1000);
        const double wall = Now() - t0;
        const double workers = ThreadCpu(threads[0]) + ThreadCpu(threads[1]) - w0;
        const double process = ProcessCpu(GetCurrentProcess()) - p0;
        printf("idle %.1f s: both channel workers %.3f%% of one core, whole process %.3f%%\n", wall,
               100.0 * workers / wall, 100.0 * process / wall);
        printf("idle wake-ups per second: command channel %.2f, download channel %.2f\n",
               static_cast<double>(workshops[0]->WaitCount() - waits0[0]) / wall,
               static_cast<double>(workshops[1]->WaitCount() - waits0[1]) / wall);
        fflush(stdout);
    }

    std::vector<double> engineRate, curlRate, engineCpu;
    const std::wstring enginePath = dir + L"\\bench-engine.bin";
    const std::wstring curlPath = dir + L"\\bench-curl.bin";
    bool ok = true;
    for (int i = 0; i < runs; ++i) {
        Sample a, b;
        if (!RunEngine(url, enginePath, size, a)) {
            fprintf(stderr, "engine download %d failed\n", i + 1);
            ok = false;
            break;
        }
        if (!RunCurlExe(curlExe, url, curlPath, size, b)) {
            fprintf(stderr, "curl.exe download %d failed\n", i + 1);
            ok = false;
            break;
        }
        engineRate.push_back(mb / a.seconds);
        curlRate.push_back(mb / b.seconds);
        engineCpu.push_back(a.cpu * 100.0 / mb);
        printf("run %d: engine %.1f MB/s (%.2f s, cpu %.2f s)  curl.exe %.1f MB/s (%.2f s, with its process start)\n",
               i + 1, mb / a.seconds, a.seconds, a.cpu, mb / b.seconds, b.seconds);
        fflush(stdout);
    }
    DeleteFileW(enginePath.c_str());
    DeleteFileW(curlPath.c_str());

    if (ok && !engineRate.empty()) {
        const double e = Median(engineRate), c = Median(curlRate);
        printf("median throughput: engine %.1f MB/s, curl.exe %.1f MB/s, ratio engine/curl.exe %.3f\n", e, c, e / c);
        printf("engine cpu seconds per 100 MB (median): %.3f\n", Median(engineCpu));
    }

    KillTimer(nullptr, timer);
    ShutdownMainThreadDispatch();
    StopCommandChannel();
    StopDownloadChannel();
    return ok ? 0 : 1;
}
