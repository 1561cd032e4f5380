#pragma once
// The installer's window ("InstallPackages.xml") and the controller of the
// whole install flow: agreement gating, the directory page with its free-space
// check, the download phase driven by the update module, the ten-second
// installation phase and the hand-off to the launcher.
//
// Pages of tb_main: 0 start (install button, agreement, custom-install link),
// 1 directory choice, 2 progress.
//
// Files: everything the installer writes and runs (the partial download, the
// package, the manifest copy) lives in the staging folder (InstallSteps.h),
// which only administrators may change; a package shipped beside the program
// is copied there and checked first. The install directory is only handed to
// the package. The package runs only when a checked package is held.
//
// Failures: at most one failure notice is open; a later failure updates its
// text instead of opening another (FailureNotice.h picks the text). The
// failed stage (manifest or package download) is tried again on the retry
// timer, with waits from RetrySchedule.h; new package bytes or a manifest
// reset the count. A package or launcher that cannot be started ends the run
// with a notice saying which, and a non-zero exit code (ExitCode).
//
// Threads: UI thread; the update module calls the listener operations there.
// Ownership: the entry point owns this object for the whole run; this window
// owns the update module between an install click and close.

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include <random>

#include "Runtime/StagingFolder.h"
#include "Runtime/UniqueHandle.h"
#include "Updater/GameEventListener.h"
#include "Updater/LockedPackage.h"
#include "app/FailureNotice.h"
#include "ui/WindowImplBase.h"

class CControlUI;
class CMsgBoxDlg;
class UpdateModule;

class CMainDlg : public WindowImplBase, public IGameEventListener {
public:
    enum { kInstallTimer = 1, kRetryTimer = 2 };
    // The process's exit code (the window posts it with the quit message).
    // 1 is the framework's: the layout could not be loaded.
    enum ExitCode {
        kExitOk = 0,  // handed over to the launcher, or the user left
        kExitPackageNotStarted = 2,
        kExitLauncherNotStarted = 3,
    };
    // Set by the first paint: the rest of the start-up follows the first frame
    // once the window has been idle for a moment (a timer message comes only
    // when nothing else is queued), so it never competes with the frame, a
    // first input or whoever waits on the window.
    static const UINT_PTR kAfterFirstPaintTimer = 0x314;
    static const UINT kAfterFirstPaintMs = 50;
    static const UINT kInstallTickMs = 100;
    static const uint64_t kRequiredFreeBytes = 125829120;  // 120 MB
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
    void OnDownloadProgress(uint64_t total, uint64_t completed, int speed, int reserved) override;
    void OnDownloadResult(int errType, int code, const std::wstring& message) override;
    void OnManifestResult(int errType, int code, const std::wstring& text) override;

    // State, for diagnostics and tests.
    const std::wstring& InstallDir() const { return installDir_; }
    const std::wstring& PackageDir() const { return packageDir_; }
    int InstallTicks() const { return installTicks_; }
    int ExitCodeOnClose() const { return exitCode_; }
    // The open failure notice, or null.
    CMsgBoxDlg* FailureNotice() const { return failureBox_; }
    int ConsecutiveFailures() const { return failures_; }

protected:
    // Seams for tests; the product's versions talk to the system.
    // The update module for the package directory (the compiled-in endpoints).
    virtual UpdateModule* CreateUpdater(const std::wstring& packageDir);
    // Free bytes for the caller on the volume of `path`; false when unknown.
    virtual bool QueryFreeBytes(const std::wstring& path, uint64_t* bytes);
    // Arms the retry timer to fire once after `delayMs`.
    virtual void ArmRetryTimer(UINT delayMs);
    // Finds or makes the staging folder and sets `dir` to it; false when
    // there is none to be had.
    virtual bool PrepareStaging(std::wstring* dir);
    // The package shipped beside the program, once copied and checked.
    LockedPackage& ShippedPackage() { return shippedPackage_; }

private:
    void SetWindowIcons();
    void ShowAgreementWarning();
    // Shows `text` (`kind`'s): in the open notice if there is one, else in
    // a new one when `mayOpen`.
    void ShowNotice(NoticeKind kind, bool mayOpen);
    void ShowNotice(const std::wstring& text, bool mayOpen);
    // A failed stage: tell the user (once per progress) and arm the retry.
    void OnStageFailed(FailureStage stage, int errType, int code);
    // The hand-over failed: say what could not start, then end the run with `exitCode`.
    void FailInstall(NoticeKind kind, ExitCode exitCode);
    void StartDownloadPhase();
    // The package checked and held for the install step (shipped or
    // downloaded), or null when there is none.
    const LockedPackage* HeldPackage() const;
    void OnRetryTimer();
    void UpdateFreeSpace();
    // Sets the two-image bar string with the bar's width and a fill of `fill` pixels.
    void SetBarFill(int fill);
    int BarWidth() const;
    bool AgreementSelected() const;
    void SelectPage(int index);
    // One 100 ms step of the installation phase (ticks 1 to 100).
    void OnInstallTick();
    // The close button, Escape, Alt+F4: a notice while installing, else the exit box.
    void OnCloseButton();
    void OnExitClick();

    CControlUI* progress_ = nullptr;
    CControlUI* percentLabel_ = nullptr;
    CControlUI* minButton_ = nullptr;
    CControlUI* closeButton_ = nullptr;
    CControlUI* background_ = nullptr;  // "vlt_bk": not in the skin, never used
    CControlUI* installButton_ = nullptr;
    CControlUI* installNowButton_ = nullptr;
    CControlUI* pages_ = nullptr;
    CControlUI* customLink_ = nullptr;
    CControlUI* dirEdit_ = nullptr;
    CControlUI* browseButton_ = nullptr;
    CControlUI* agreementLink_ = nullptr;
    CControlUI* freeSpaceLabel_ = nullptr;
    CControlUI* agreeOption_ = nullptr;

    std::wstring installDir_;
    std::wstring launcherPath_;
    std::wstring packageDir_;
    int launchNumber_ = 0;
    int installTicks_ = 0;
    UniqueProcess installer_;
    std::wstring installerPath_;
    CMsgBoxDlg* exitBox_ = nullptr;
    UpdateModule* updater_ = nullptr;
    bool failureBoxArmed_ = true;
    // "<program's folder>\ovinstaller.exe" when it lies there with its
    // marker "ovmain.dll"; empty otherwise (the marker alone changes nothing).
    std::wstring shippedPackagePath_;
    // The installed launcher could not be started with the user's rights:
    // the notice follows the first paint.
    bool launcherNotStarted_ = false;
    // Holds the package directory from the install click on; let go after
    // the package below (a folder made for this run goes with its files).
    StagingFolder staging_;
    // The staged copy of the shipped package, held from its check until its
    // process exists.
    LockedPackage shippedPackage_;
    bool painted_ = false;

    CMsgBoxDlg* failureBox_ = nullptr;  // cleared by the box when it goes away
    // From the package's start until the hand-over: closing now would leave
    // a half-installed client, so close requests get a notice instead.
    bool installing_ = false;
    int exitCode_ = kExitOk;
    // Consecutive failures since the last progress, and which stage the retry
    // timer tries again. Packages that failed their check are counted apart,
    // until one passes.
    int failures_ = 0;
    int checkFailures_ = 0;
    FailureStage retryStage_ = FailureStage::kManifest;
    // Most package bytes any report has shown: only bytes beyond it are
    // progress (a resumed download first reports what it already had).
    uint64_t bestCompleted_ = 0;
    uint64_t remainingBytes_ = 0;  // from the last report; 0 when unknown
    std::minstd_rand random_;
};
