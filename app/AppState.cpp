#include "app/AppState.h"

#include <cwchar>

#include "Http/HttpMgr.h"
#include "Runtime/Logger.h"
#include "Runtime/MainThreadDispatch.h"

namespace {

const UINT kHeartbeatMs = 1000;
const UINT kPumpMs = 500;

// The heartbeat only keeps a WM_TIMER turning the loop every second.
void CALLBACK HeartbeatProc(HWND, UINT, UINT_PTR, DWORD) {}

}  // namespace

CAppState& CAppState::Instance()
{
    static CAppState state;
    return state;
}

void CAppState::Start(CMainDlg* mainWindow)
{
    mainWindow_ = mainWindow;
    // Window-less thread timers: the requested ids are ignored by the system.
    heartbeatTimer_ = SetTimer(nullptr, 508, kHeartbeatMs, &HeartbeatProc);
    if (!dispatcherReady_) {
        InitMainThreadDispatch();
        dispatcherReady_ = true;
    }
}

void CAppState::StartAfterFirstPaint()
{
    if (afterFirstPaint_)
        return;
    afterFirstPaint_ = true;
    StartHttp();
}

bool CAppState::StartHttp()
{
    if (!httpStarted_) {
        httpStarted_ = true;
        pumpTimer_ = SetTimer(nullptr, 100, kPumpMs, &HttpTimerProc);
        // Without the pump, retries would wait for ever: worth a line.
        if (!pumpTimer_)
            OV_LOG(LOG_ERROR, L".\\app\\AppState", L"HTTP pump timer not set:%u",
                   static_cast<unsigned>(GetLastError()));
        // Both are tried even if the first fails.
        const bool command = StartCommandChannel();
        const bool download = StartDownloadChannel();
        return command && download;
    }
    return CommandWorkshop() && DownloadWorkshop();
}

void CAppState::Stop()
{
    mainWindow_ = nullptr;
    if (heartbeatTimer_) {
        KillTimer(nullptr, heartbeatTimer_);
        heartbeatTimer_ = 0;
    }
    // Tasks still queued point at transfers of the channels: they are released
    // before the channels go, and never run.
    ShutdownMainThreadDispatch();
    if (httpStarted_) {
        StopCommandChannel();
        StopDownloadChannel();
        if (pumpTimer_)
            KillTimer(nullptr, pumpTimer_);
        pumpTimer_ = 0;
        httpStarted_ = false;
    }
}

uint16_t ParseLaunchNumber(const std::wstring& commandLine)
{
    if (commandLine.empty())
        return 0;
    // wcstol's own rules: blanks, sign, digits up to the first other character.
    return static_cast<uint16_t>(wcstol(commandLine.c_str(), nullptr, 10));
}
