#pragma once
// The application state: the one-second heartbeat, the main-thread dispatcher,
// the 500 ms HTTP pump and the two HTTP channels, stopped in a fixed order
// after the install window's message loop.
//
// Start-up is split so the window's first frame comes first: Start (before the
// window is created) brings up what the window itself needs, the heartbeat and
// the dispatcher; StartAfterFirstPaint brings up what only a click needs, the
// HTTP channels with libcurl's set-up. (The common controls are loaded by the
// toolkit when a control first needs them: the directory page's native edit
// field, a tooltip.) A user of the channels that may come first (the update
// module, on a click before the first paint) is given this object as its
// IHttpChannels and calls StartHttp itself; it does nothing once the channels
// are up. Nothing reaches the network either way: the channels only wait
// until a request is submitted.
//
// Threads: UI thread only.
// Ownership: a process-wide object created on first use; it does not own the
// main window (the entry point does).

// The HTTP headers need winsock2 ahead of windows.h.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "Http/HttpMgr.h"

class CMainDlg;

class CAppState : public IHttpChannels {
public:
    static CAppState& Instance();

    // Remembers the window, starts the heartbeat and brings up the dispatcher
    // (once per process).
    void Start(CMainDlg* mainWindow);
    // Once, after the window's first paint: the HTTP channels.
    void StartAfterFirstPaint();
    // Brings up the HTTP channels with their pump timer unless they are up.
    // True when both channels are up.
    bool StartHttp() override;
    // Kills the heartbeat, runs down the dispatcher (pending tasks released,
    // not run), then stops both channels and the pump.
    void Stop();

    uint16_t LaunchNumber() const { return launchNumber_; }
    void SetLaunchNumber(uint16_t number) { launchNumber_ = number; }
    CMainDlg* MainWindow() const { return mainWindow_; }
    bool HttpStarted() const { return httpStarted_; }
    bool StartedAfterFirstPaint() const { return afterFirstPaint_; }

private:
    CAppState() = default;

    CMainDlg* mainWindow_ = nullptr;
    UINT_PTR heartbeatTimer_ = 0;
    uint16_t launchNumber_ = 0;
    bool dispatcherReady_ = false;
    bool httpStarted_ = false;
    bool afterFirstPaint_ = false;
    UINT_PTR pumpTimer_ = 0;
};

// The launch number from the command line: decimal after optional blanks and
// sign, up to the first other character, 0 without digits, cut to 16 bits.
uint16_t ParseLaunchNumber(const std::wstring& commandLine);
