#pragma once
// The installer's window ("InstallPackages.xml"): the view of the install
// flow (InstallFlow.h, which decides everything a user sees and when). It
// finds the controls, forwards clicks, keys, timers and the update module's
// reports to the flow and carries out the actions the flow answers with:
// pages, texts, the bar's value, message boxes, timers, the update module,
// the package and the launcher.
//
// Files: everything the installer writes and runs (the partial download, the
// package, the manifest copy) lives in the staging folder (InstallSteps.h),
// which only administrators may change; a package shipped beside the program
// is copied there and checked first. The install directory is only handed to
// the package. The package runs only when a checked package is held.
//
// Threads: UI thread; the update module calls the listener operations there.
// Ownership: the entry point owns this object for the whole run; this window
// owns the update module between an install click and close, and the
// package's process until the hand-off.

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "Runtime/StagingFolder.h"
#include "Runtime/UniqueHandle.h"
#include "Updater/GameEventListener.h"
#include "Updater/LockedPackage.h"
#include "app/FreeSpace.h"
#include "app/InstallFlow.h"
#include "app/InstallSteps.h"
#include "ui/WindowImplBase.h"

class CMsgBoxDlg;
class UpdateModule;

class CMainDlg : public WindowImplBase, public IGameEventListener, private InstallFlow::Queries {
public:
    enum { kInstallTimer = 1, kRetryTimer = 2 };
    // Set by the first paint: the rest of the start-up follows the first frame
    // once the window has been idle for a moment (a timer message comes only
    // when nothing else is queued), so it never competes with the frame, a
    // first input or whoever waits on the window.
    static const UINT_PTR kAfterFirstPaintTimer = 0x314;
    static const UINT kAfterFirstPaintMs = 50;
    static constexpr const wchar_t* kWindowClass = L"InstallPackages";

    CMainDlg();
    ~CMainDlg() override;

    const wchar_t* WindowClassName() const override { return kWindowClass; }
    std::wstring SkinFolder() override { return L"no use"; }
    std::wstring SkinFile() override { return L"InstallPackages.xml"; }

    void PrepareWindow() override;
    void Notify(TNotifyRecord& msg) override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnWindowDestroyed(HWND hwnd) override;

    // IGameEventListener
    void OnDownloadProgress(uint64_t total, uint64_t completed, int, int) override
    {
        Execute(flow_.OnDownloadProgress(total, completed));
    }
    void OnDownloadResult(int errType, int code, const std::wstring& message) override
    {
        Execute(flow_.OnDownloadResult(errType, code, message));
    }
    void OnManifestResult(int errType, int code, const std::wstring&) override
    {
        Execute(flow_.OnManifestResult(errType, code));
    }

    // State, for diagnostics and tests.
    const InstallFlow& Flow() const { return flow_; }
    const std::wstring& InstallDir() const { return flow_.InstallDir(); }
    // The open failure notice, or null.
    CMsgBoxDlg* FailureNotice() const { return failureBox_; }

protected:
    // Seams for tests; the product's versions talk to the system.
    // The update module for the package directory (the compiled-in endpoints).
    virtual UpdateModule* CreateUpdater(const std::wstring& packageDir);
    bool FreeBytes(const std::wstring& path, uint64_t* bytes) override { return QueryFreeBytes(path, bytes); }
    std::wstring DefaultInstallDir() override { return ::DefaultInstallDir(); }
    // Arms the retry timer to fire once after `delayMs`.
    virtual void ArmRetryTimer(UINT delayMs) { SetTimer(hwnd_, kRetryTimer, delayMs, nullptr); }
    // Finds or makes the staging folder: its path, or empty when there is none to be had.
    virtual std::wstring PrepareStaging() { return PrepareStagingFolder(staging_) ? staging_.Path() : std::wstring(); }

private:
    // Carries out `actions` in order; true when one of them keeps the window open.
    bool Execute(const FlowActions& actions);
    void Do(const FlowAction& action);
    void SetWindowIcons();
    void ShowNotice(const std::wstring& text, bool mayOpen);
    void AskExit();
    // Starts the checked package held for the install step (shipped or downloaded).
    InstallFlow::PackageStart RunPackage(const std::wstring& installDir);
    // The control of that name, or a detached stand-in when the skin has none.
    CControlUI* Find(const wchar_t* name);

    InstallFlow flow_;
    CControlUI* progress_ = nullptr;
    CControlUI* percentLabel_ = nullptr;
    CControlUI* pages_ = nullptr;
    CControlUI* dirEdit_ = nullptr;
    CControlUI* freeSpaceLabel_ = nullptr;
    CControlUI* installNowButton_ = nullptr;
    CControlUI* agreeOption_ = nullptr;

    UniqueProcess installer_;
    std::wstring installerPath_;
    CMsgBoxDlg* exitBox_ = nullptr;     // while the modal exit box runs
    CMsgBoxDlg* failureBox_ = nullptr;  // cleared by the box when it goes away
    // Holds the package directory from the install click on; let go after
    // the package below (a folder made for this run goes with its files).
    StagingFolder staging_;
    // The staged copy of the shipped package, held from its check until its
    // process exists.
    LockedPackage shippedPackage_;
    // Goes before the two above: it holds a package in the staging folder too.
    std::unique_ptr<UpdateModule> updater_;
    bool painted_ = false;
    int exitCode_ = InstallFlow::kExitOk;
    std::unique_ptr<CControlUI> missing_;
};
