// Process entry of the installer: reads the launch number, builds and shows
// the install window with the application state running, turns the message
// loop, and tears down in a fixed order.
//
// The first frame comes first: what it does not need (the HTTP channels with
// libcurl's set-up, the window's icons) the install window starts once it has
// painted (CMainDlg, CAppState); the common controls wait for the first
// control that needs them.

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "Runtime/Logger.h"
#include "Runtime/ScopedCom.h"
#include "Runtime/StartupTrace.h"
#include "app/AppState.h"
#include "app/MainDlg.h"
#include "app/SingleInstance.h"
#include "ui/SkinResources.h"
#include "ui/WndShadow.h"

namespace {

// The first code of ours in the process: from here on every DLL that is loaded
// (the delay-loaded imports, and whatever the system loads on our behalf)
// comes from System32 only, never from the folder the program was started in,
// typically a Downloads folder. It runs as a TLS callback, before the C
// runtime's start-up, because that start-up already loads DLLs: the stack
// protector seeds its guard through CryptAcquireContext, which loads the
// crypto provider and its imports.
void NTAPI RestrictDllSearch(PVOID, DWORD reason, PVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int RunMessageLoop()
{
    MSG msg = {};
    bool painted = false;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // The start-up trace's last marks: the first paint of the window.
        const bool firstPaint = !painted && msg.message == WM_PAINT;
        if (firstPaint)
            CStartupTrace::Mark("paint-start");
        // No accelerator table: this never translates, and the framework's
        // pre-translation is deliberately not run for the main window.
        if (!TranslateAcceleratorW(msg.hwnd, nullptr, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (firstPaint) {
            painted = true;
            CStartupTrace::Mark("paint-end");
            CStartupTrace::Flush(false);
        }
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

// The loader calls the TLS callbacks listed between the C runtime's .CRT$XLA
// and .CRT$XLZ markers before the entry point.
extern "C" __attribute__((section(".CRT$XLB"), used))
const PIMAGE_TLS_CALLBACK ov_restrict_dll_search = RestrictDllSearch;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int)
{
    // The DLL search was restricted to System32 before any code of ours ran
    // (RestrictDllSearch above).
    // One installer at a time: a second start shows the first one and ends
    // before it touches anything.
    SingleInstance oneInstaller;
    SystemSingleInstanceOps instanceOps;
    if (oneInstaller.Claim(instanceOps) == InstanceClaim::kAnotherIsRunning) {
        BringFirstInstallerToFront(CMainDlg::kWindowClass, 3000);
        return 0;
    }

    CStartupTrace::Begin();
    CStartupTrace::Mark("entry");

    CAppState& app = CAppState::Instance();
    app.SetLaunchNumber(ParseLaunchNumber(commandLine ? commandLine : L""));
    CSkinResources::SetInstance(instance);
    CWndShadow::Initialize(instance);

    int exitCode = 0;
    {
        CMainDlg window;
        app.Start(&window);
        CStartupTrace::Mark("app-state");
        // Position and size 0: the skin gives the size. Creation may already
        // find an installed launcher, start it and close the window.
        window.Create(nullptr, L"安装澄岳", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, 0);
        if (window.LayoutFailed()) {
            // Without its layout there is no window to run.
            ShowLayoutFailure();
            exitCode = 1;
            app.Stop();
        } else {
            window.CenterOnOwner();
            window.ShowWindow(true, true);
            CStartupTrace::Mark("shown");
            // OLE (which brings COM) once for the UI thread, after the first
            // frame; it ends before the window goes.
            const ScopedCom ole(ScopedCom::kOle);
            if (!ole.Ok())
                OV_LOG(LOG_ERROR, L".\\app\\Main", L"OLE not initialised:0x%08x",
                       static_cast<unsigned>(ole.Result()));
            CStartupTrace::Mark("com");
            exitCode = RunMessageLoop();
            CSkinResources::ReleaseSkinResources();
            app.Stop();
        }
    }
    return exitCode;
}
