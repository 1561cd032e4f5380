// Soak of the install window: one window built from the embedded skin stays
// open on the directory page while the edit field and the free-space label
// are exercised, the pages are switched and progress reports are painted,
// for a bounded time. GDI and USER objects, kernel handles and memory are
// sampled at start, at every interval and at the end; the program fails when
// the end figures exceed the figures taken after the warm-up by more than a
// small tolerance.
//
// Usage: install_window_soak [seconds=600] [interval seconds]
// Exit code: 0 steady, 1 something grew (or a directory change did not reach
// the free-space label), 2 the window or the counters could not be set up.
//
// The first pass through every code path creates lasting things on purpose
// (cached images and fonts, the native edit window's class, Wine's per-thread
// GDI state), so the baseline is taken only after a warm-up of a tenth of the
// run (at least 2 s, at most 30 s).

#include <winsock2.h>  // before windows.h, as the HTTP headers need
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/MainDlg.h"
#include "tests/soak/ProcessCounters.h"
#include "ui/Control.h"
#include "ui/Edit.h"
#include "ui/PaintHost.h"
#include "ui/SkinResources.h"
#include "ui/TabLayout.h"

namespace {

struct Sample : ProcessCounters {
    double seconds = 0;
};

// How much an end figure may exceed the baseline before it counts as growth:
// a few objects come and go with timing (a pending paint's DC, the native edit
// window alive at the moment of sampling), and the heap settles in steps.
const DWORD kObjectTolerance = 8;
const DWORD kHandleTolerance = 8;
const SIZE_T kMemoryTolerance = 4u * 1024 * 1024;

Sample TakeSample(ULONGLONG start)
{
    Sample s;
    static_cast<ProcessCounters&>(s) = ReadProcessCounters();
    s.seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
    return s;
}

// A count that cannot see a new object proves nothing: one brush, one event
// and one window must each raise their count (by one; the first window of a
// thread may bring the input method's window along), and their release bring
// it back.
bool CountersSeeNewObjects()
{
    const ProcessCounters before = ReadProcessCounters();
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    const ProcessCounters with = ReadProcessCounters();
    if (brush)
        DeleteObject(brush);
    if (event)
        CloseHandle(event);
    if (window)
        DestroyWindow(window);
    const ProcessCounters after = ReadProcessCounters();
    std::printf("counters: %ls; probe gdi %lu/%lu/%lu user %lu/%lu/%lu handles %lu/%lu/%lu\n", before.source.c_str(),
                before.gdiObjects, with.gdiObjects, after.gdiObjects, before.userObjects, with.userObjects,
                after.userObjects, before.handles, with.handles, after.handles);
    const bool ok = brush && event && window && with.gdiObjects == before.gdiObjects + 1 &&
                    with.userObjects >= before.userObjects + 1 && with.handles == before.handles + 1 &&
                    after.gdiObjects == before.gdiObjects && after.userObjects == before.userObjects &&
                    after.handles == before.handles;
    if (!ok)
        std::printf("the counters do not follow a created and released object\n");
    return ok;
}

void PrintSample(const char* label, const Sample& s, unsigned long iterations)
{
    std::printf("%-6s t=%6.1fs rounds=%7lu gdi=%4lu user=%4lu handles=%4lu workingset=%7lluKB pagefile=%7lluKB "
                "private=%lluKB\n",
                label, s.seconds, iterations, s.gdiObjects, s.userObjects, s.handles,
                static_cast<unsigned long long>(s.workingSet / 1024),
                static_cast<unsigned long long>(s.pagefileUsage / 1024),
                static_cast<unsigned long long>(s.privateUsage / 1024));
    std::fflush(stdout);
}

void Pump(DWORD ms)
{
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                continue;  // only the window's own end posts it; not ours to act on here
            if (!CPaintHostUI::TranslateMessage(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return;
        const DWORD wait = static_cast<DWORD>(deadline - now);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait < 10 ? wait : 10, QS_ALLINPUT);
    }
}

bool Grew(const char* what, unsigned long long base, unsigned long long end, unsigned long long tolerance)
{
    if (end <= base + tolerance)
        return false;
    std::printf("GROWTH: %s %llu -> %llu (tolerance %llu)\n", what, base, end, tolerance);
    return true;
}

// Directories on different drives, so that each change asks another volume:
// the prefix's system drive, the host root (Wine's Z:), and a drive letter
// that does not exist (the no-space path: label "0B", install button off).
const wchar_t* const kDirectories[] = {
    L"C:\\Program Files\\OrvelSoak",
    L"Z:\\tmp\\OrvelSoak",
    L"Q:\\OrvelSoak",
    L"C:",
};

class Soak {
public:
    int Run(double durationSeconds, double intervalSeconds);

private:
    bool SetUp();
    void Step(unsigned long i);

    CMainDlg dlg_;
    CTabLayoutUI* pages_ = nullptr;
    CEditUI* edit_ = nullptr;
    CControlUI* freeSpace_ = nullptr;
    CControlUI* customLink_ = nullptr;
    CControlUI* percentLabel_ = nullptr;
    unsigned long typedRounds_ = 0;
    unsigned long missedUpdates_ = 0;  // rounds whose change did not reach the window's directory and label  // rounds whose directory went through the native edit window
};

bool Soak::SetUp()
{
    CSkinResources::SetInstance(GetModuleHandleW(nullptr));
    if (!dlg_.Create(nullptr, L"安装澄岳", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, 0)) {
        std::printf("the install window was not created (%lu)\n", GetLastError());
        return false;
    }
    dlg_.ShowWindow(true, true);
    Pump(200);
    if (!IsWindow(dlg_.GetHWND())) {
        std::printf("the install window closed itself (an installed launcher in this prefix?)\n");
        return false;
    }
    CPaintHostUI& host = dlg_.PaintHost();
    pages_ = dynamic_cast<CTabLayoutUI*>(host.FindByName(L"tb_main"));
    edit_ = dynamic_cast<CEditUI*>(host.FindByName(L"edit_input"));
    freeSpace_ = host.FindByName(L"lb_leftspace");
    customLink_ = host.FindByName(L"btn_free");
    percentLabel_ = host.FindByName(L"lb_InstallPercent");
    if (!pages_ || !edit_ || !freeSpace_ || !customLink_ || !percentLabel_) {
        std::printf("the skin lacks a control the soak drives\n");
        return false;
    }
    // The custom-install link's click, as the paint manager raises it for a
    // real mouse click: page 1 with the proposed directory in the field.
    host.RaiseNotification(customLink_, L"click");
    Pump(100);
    if (pages_->GetCurSel() != 1 || edit_->GetText().empty()) {
        std::printf("the custom-install click did not open the directory page (page %d)\n", pages_->GetCurSel());
        return false;
    }
    return true;
}

// One round: a directory change (every other one typed into the native edit
// window, the others set on the control), a page switch of the cycle 0 1 2 1,
// a progress report, and a full repaint.
void Soak::Step(unsigned long i)
{
    const wchar_t* dir = kDirectories[i % (sizeof(kDirectories) / sizeof(kDirectories[0]))];
    CPaintHostUI& host = dlg_.PaintHost();
    if (i % 2 == 0 && pages_->GetCurSel() == 1) {
        // Focus creates the native edit window; its EN_CHANGE raises "textchanged".
        host.SetFocus(edit_);
        Pump(5);
        if (HWND native = edit_->GetNativeWindow()) {
            SetWindowTextW(native, dir);
            ++typedRounds_;
        } else
            edit_->SetText(dir);
        host.SetFocus(nullptr);  // the native window closes on losing the focus
    } else {
        edit_->SetText(dir);
    }
    // The change must have reached the window: its directory and the label
    // ("0B" only for the missing drive), so the free-space path really ran.
    const bool missingDrive = dir[0] == L'Q';
    if (dlg_.InstallDir() != dir || (freeSpace_->GetText() == L"0B") != missingDrive)
        ++missedUpdates_;
    static const int kCycle[] = {0, 1, 2, 1};
    pages_->Select(kCycle[i % 4]);
    const uint64_t total = 125829120;
    dlg_.OnDownloadProgress(total, (total / 1000) * (i % 1000), 0, 0);
    RedrawWindow(dlg_.GetHWND(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Pump(10);
}

int Soak::Run(double durationSeconds, double intervalSeconds)
{
    const ULONGLONG start = GetTickCount64();
    PrintSample("before", TakeSample(start), 0);
    if (!CountersSeeNewObjects())
        return 2;
    if (!SetUp())
        return 2;

    double warmUp = durationSeconds / 10;
    if (warmUp < 2)
        warmUp = 2;
    if (warmUp > 30)
        warmUp = 30;
    std::printf("soak: %.0f s, warm-up %.0f s, sample every %.0f s; tolerance %lu objects, %lu handles, %.0f MB\n",
                durationSeconds, warmUp, intervalSeconds, kObjectTolerance, kHandleTolerance,
                kMemoryTolerance / 1048576.0);
    PrintSample("opened", TakeSample(start), 0);

    const ULONGLONG warmEnd = start + static_cast<ULONGLONG>(warmUp * 1000);
    const ULONGLONG end = start + static_cast<ULONGLONG>(durationSeconds * 1000);
    ULONGLONG nextSample = 0;
    Sample baseline;
    bool haveBaseline = false;
    unsigned long i = 0;
    for (; GetTickCount64() < end; ++i) {
        if (!IsWindow(dlg_.GetHWND())) {
            std::printf("the install window went away at round %lu\n", i);
            return 2;
        }
        Step(i);
        const ULONGLONG now = GetTickCount64();
        if (!haveBaseline && now >= warmEnd) {
            // Sampled on the directory page, as the end sample is.
            pages_->Select(1);
            Pump(50);
            baseline = TakeSample(start);
            haveBaseline = true;
            PrintSample("start", baseline, i);
            nextSample = now + static_cast<ULONGLONG>(intervalSeconds * 1000);
        } else if (haveBaseline && now >= nextSample) {
            PrintSample("sample", TakeSample(start), i);
            nextSample = now + static_cast<ULONGLONG>(intervalSeconds * 1000);
        }
    }
    pages_->Select(1);
    Pump(50);
    const Sample last = TakeSample(start);
    PrintSample("end", last, i);
    if (!haveBaseline) {
        std::printf("the run ended inside the warm-up\n");
        return 2;
    }

    bool grew = false;
    grew |= Grew("GDI objects", baseline.gdiObjects, last.gdiObjects, kObjectTolerance);
    grew |= Grew("USER objects", baseline.userObjects, last.userObjects, kObjectTolerance);
    grew |= Grew("handles", baseline.handles, last.handles, kHandleTolerance);
    grew |= Grew("pagefile usage (bytes)", baseline.pagefileUsage, last.pagefileUsage, kMemoryTolerance);
    grew |= Grew("working set (bytes)", baseline.workingSet, last.workingSet, kMemoryTolerance);
    if (missedUpdates_ > 0)
        std::printf("MISSED: %lu directory changes did not reach the free-space label\n", missedUpdates_);
    std::printf("soak: %lu rounds (%lu typed into the native edit window), %s\n", i, typedRounds_,
                grew ? "FAILED (growth)" : missedUpdates_ ? "FAILED (missed updates)" : "steady");

    DestroyWindow(dlg_.GetHWND());
    Pump(50);
    return grew || missedUpdates_ > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    double duration = 600;
    if (argc > 1)
        duration = std::atof(argv[1]);
    if (duration < 3) {
        std::printf("usage: install_window_soak [seconds>=3] [interval seconds]\n");
        return 2;
    }
    double interval = duration / 10;
    if (interval > 60)
        interval = 60;
    if (argc > 2)
        interval = std::atof(argv[2]);
    if (interval < 1)
        interval = 1;
    static Soak soak;  // the window object outlives the message pump's last messages
    return soak.Run(duration, interval);
}
