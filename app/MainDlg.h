#pragma once
// The installer's window ("InstallPackages.xml") and the controller of the
// whole install flow: agreement gating, the directory page with its free-space
// check, the download phase driven by the update module, the ten-second
// installation phase and the hand-off to the launcher.
//
// Pages of tb_main: 0 start (install button, agreement, custom-install link),
// 1 directory choice, 2 progress.
//
// Threads: UI thread; the update module calls the listener operations there.
// Ownership: the entry point owns this object for the whole run; this window
// owns the update module between an install click and close.

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "Updater/GameEventListener.h"
#include "Updater/LockedPackage.h"
#include "ui/WindowImplBase.h"

class CControlUI;
class CMsgBoxDlg;
class UpdateModule;

class CMainDlg : public WindowImplBase, public IGameEventListener {
public:
    enum { kInstallTimer = 1, kRetryTimer = 2 };
    // Set by the first paint: the rest of the start-up follows the first frame
    // once the window has been idle for a moment (a timer message comes only
    // when nothing else is queued), so it never competes with the frame, a
    // first input or whoever waits on the window.
    static const UINT_PTR kAfterFirstPaintTimer = 0x314;
    static const UINT kAfterFirstPaintMs = 50;
    static const UINT kInstallTickMs = 100;
    static const UINT kRetryMs = 5000;
    static const uint64_t kRequiredFreeBytes = 125829120;  // 120 MB

    CMainDlg();
    ~CMainDlg() override;

    const wchar_t* WindowClassName() const override { return L"InstallPackages"; }
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

private:
    void SetWindowIcons();
    void ShowAgreementWarning();
    void ShowFailureBox(const wchar_t* text = L"安装失败，请检查网络后重试！");
    void StartDownloadPhase();
    void UpdateFreeSpace();
    // Sets the two-image bar string with the bar's width and a fill of `fill` pixels.
    void SetBarFill(int fill);
    int BarWidth() const;
    bool AgreementSelected() const;
    void SelectPage(int index);
    // One 100 ms step of the installation phase (ticks 1 to 100).
    void OnInstallTick();
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
    PROCESS_INFORMATION installer_ = {};
    std::wstring installerPath_;
    CMsgBoxDlg* exitBox_ = nullptr;
    UpdateModule* updater_ = nullptr;
    bool failureBoxArmed_ = true;
    bool packageIsLocal_ = false;
    bool installerIsLocal_ = false;
    // The package shipped beside the program, held from its check until its
    // process exists.
    LockedPackage shippedPackage_;
    bool painted_ = false;
};
