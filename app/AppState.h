#pragma once
// The application state: the one-second heartbeat, the main-thread dispatcher,
// the 500 ms HTTP pump and the two HTTP channels, started before the install
// window is created and stopped in a fixed order after its message loop.
//
// Threads: UI thread only.
// Ownership: a process-wide object created on first use; it does not own the
// main window (the entry point does).

// The HTTP headers need winsock2 ahead of windows.h.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

class CMainDlg;

class CAppState {
public:
    static CAppState& Instance();

    // Remembers the window, starts the heartbeat, brings up the dispatcher
    // (once per process) and the HTTP channels with their pump timer. Always true.
    bool Start(CMainDlg* mainWindow);
    // Kills the heartbeat, runs down the dispatcher (pending tasks released,
    // not run), then stops both channels and the pump. Always true.
    bool Stop();

    uint16_t LaunchNumber() const { return launchNumber_; }
    void SetLaunchNumber(uint16_t number) { launchNumber_ = number; }
    CMainDlg* MainWindow() const { return mainWindow_; }
    bool HttpStarted() const { return httpStarted_; }

private:
    CAppState() = default;

    CMainDlg* mainWindow_ = nullptr;
    UINT_PTR heartbeatTimer_ = 0;
    uint16_t launchNumber_ = 0;
    bool dispatcherReady_ = false;
    bool httpStarted_ = false;
    UINT_PTR pumpTimer_ = 0;
};

// The launch number from the command line: decimal after optional blanks and
// sign, up to the first other character, 0 without digits, cut to 16 bits.
uint16_t ParseLaunchNumber(const std::wstring& commandLine);
