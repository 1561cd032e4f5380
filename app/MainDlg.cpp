#include "app/MainDlg.h"

#include "Runtime/FileOps.h"
#include "Runtime/Logger.h"
#include "Runtime/StartupTrace.h"
#include "Runtime/TextUtil.h"
#include "Updater/Endpoints.h"
#include "Updater/UpdateModule.h"
#include "app/AppState.h"
#include "app/CommonUtils.h"
#include "app/InstallSteps.h"
#include "app/MsgBoxDlg.h"
#include "app/RetrySchedule.h"
#include "app/UserStart.h"
#include "ui/Control.h"
#include "ui/Option.h"
#include "ui/Progress.h"
#include "ui/SkinResources.h"
#include "ui/TabLayout.h"

namespace {

const wchar_t kSource[] = L".\\app\\MainDlg";
const int kPageStart = 0;
const int kPageDirectory = 1;
const int kPageProgress = 2;
const int kLastInstallTick = 100;

}  // namespace

CMainDlg::CMainDlg() : random_(GetTickCount() ^ GetCurrentProcessId()) {}

CMainDlg::~CMainDlg()
{
    // An open notice outliving this object must not clear a freed member.
    if (failureBox_)
        failureBox_->TrackIn(nullptr);
    delete updater_;
}

void CMainDlg::SetWindowIcons()
{
    // Both icons at the system's large size rounded up to a multiple of 16.
    const int size = (GetSystemMetrics(SM_CXICON) + 15) / 16 * 16;
    HICON icon = static_cast<HICON>(
        LoadImageW(CSkinResources::Instance(), MAKEINTRESOURCEW(101), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (icon) {
        SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
}

void CMainDlg::PrepareWindow()
{
    // The icons follow the first frame (they only reach the taskbar).
    if (HMENU menu = GetSystemMenu(hwnd_, FALSE))
        EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);

    progress_ = paintHost_.FindByName(L"pro_InstallProgress");
    percentLabel_ = paintHost_.FindByName(L"lb_InstallPercent");
    minButton_ = paintHost_.FindByName(L"btn_min");
    closeButton_ = paintHost_.FindByName(L"btn_close");
    background_ = paintHost_.FindByName(L"vlt_bk");
    installButton_ = paintHost_.FindByName(L"btn_install");
    customLink_ = paintHost_.FindByName(L"btn_free");
    installNowButton_ = paintHost_.FindByName(L"btn_install2");
    dirEdit_ = paintHost_.FindByName(L"edit_input");
    browseButton_ = paintHost_.FindByName(L"btn_select");
    freeSpaceLabel_ = paintHost_.FindByName(L"lb_leftspace");
    agreementLink_ = paintHost_.FindByName(L"btn_agreement");
    agreeOption_ = paintHost_.FindByName(L"opt_agree");
    pages_ = paintHost_.FindByName(L"tb_main");

    if (CAppState::Instance().LaunchNumber() != 0)
        launchNumber_ = CAppState::Instance().LaunchNumber();

    // An installed launcher is simply started; the window is never used then.
    launcherPath_.clear();
    const InstalledLauncher found = FindInstalledLauncher();
    if (!found.installDir.empty())
        installDir_ = found.installDir;  // an earlier installation's directory is proposed
    if (found.found) {
        launcherPath_ = found.launcherPath;
        // With the signed-in user's rights, never this installer's.
        if (StartAsSignedInUser(launcherPath_,
                                LauncherCommandLine(launcherPath_, static_cast<unsigned>(launchNumber_))) == 0) {
            Close(1);
            return;
        }
        // Installing again is what the notice asks for; the window offers it.
        launcherNotStarted_ = true;
    }

    // A package shipped beside the program needs no network: "ovmain.dll"
    // marks it, and there must be a package to go with it.
    const std::wstring moduleDir = GetModuleDir();
    const std::wstring marker = Format(L"%s\\%s", moduleDir.c_str(), L"ovmain.dll");
    const std::wstring shipped = moduleDir + L"\\ovinstaller.exe";
    if (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesW(shipped.c_str()) != INVALID_FILE_ATTRIBUTES)
        shippedPackagePath_ = shipped;
}

void CMainDlg::Notify(TNotifyRecord& msg)
{
    CControlUI* sender = msg.sender;
    if (msg.type == L"click") {
        if (sender == closeButton_ && sender) {
            OnCloseButton();
            return;
        }
        if (sender == installButton_ && sender) {
            if (!AgreementSelected()) {
                ShowAgreementWarning();
                return;
            }
            SelectPage(kPageProgress);
            if (installDir_.empty())
                installDir_ = DefaultInstallDir();
            StartDownloadPhase();
            return;
        }
        if (sender == customLink_ && sender) {
            if (!AgreementSelected()) {
                ShowAgreementWarning();
                return;
            }
            SelectPage(kPageDirectory);
            if (installDir_.empty())
                installDir_ = DefaultInstallDir();
            if (dirEdit_)
                dirEdit_->SetText(installDir_);
        } else if (sender == installNowButton_ && sender) {
            if (dirEdit_)
                installDir_ = dirEdit_->GetText();
            // The directory goes unquoted into the package's command line:
            // one that would change what that line says is not taken.
            if (!IsUsableInstallDir(installDir_)) {
                CMsgBoxDlg::ShowModal(hwnd_, L"安装目录无效，请重新选择！", L"提示信息", L"提示");
                return;
            }
            SelectPage(kPageProgress);
            StartDownloadPhase();
            return;
        } else if (sender == browseButton_ && sender) {
            std::wstring chosen = BrowseForFolder(hwnd_, installDir_);
            if (!chosen.empty() && chosen.back() == L'\\')
                chosen.pop_back();  // "D:\" becomes "D:"
            if (!chosen.empty()) {
                installDir_ = chosen;
                if (dirEdit_)
                    dirEdit_->SetText(installDir_);
                UpdateFreeSpace();
            }
        } else if (sender == agreementLink_ && sender) {
            if (OpenAsSignedInUser(hwnd_, LicenceUrl()) != 0)
                ShowNotice(NoticeKind::kLicencePage, true);
        }
    } else if (msg.type == L"textchanged" && sender && sender == dirEdit_) {
        installDir_ = dirEdit_->GetText();
        UpdateFreeSpace();
    }
    WindowImplBase::Notify(msg);
}

void CMainDlg::OnCloseButton()
{
    if (installing_)
        ShowNotice(NoticeKind::kInstalling, true);
    else
        OnExitClick();
}

void CMainDlg::OnExitClick()
{
    if (exitBox_)
        return;  // one exit box at a time
    exitBox_ = CMsgBoxDlg::Open(hwnd_, L"是否退出安装？", L"", L"退出安装");
    if (!exitBox_)
        return;
    const UINT result = exitBox_->RunModal();  // the box is gone afterwards
    exitBox_ = nullptr;
    if (result == CMsgBoxDlg::kConfirmed)
        Close(1);
}

void CMainDlg::ShowAgreementWarning()
{
    CMsgBoxDlg::ShowModal(hwnd_, L"未勾选“同意软件许可协议”", L"提示信息", L"提示");
}

void CMainDlg::ShowNotice(NoticeKind kind, bool mayOpen)
{
    ShowNotice(NoticeText(kind), mayOpen);
}

void CMainDlg::ShowNotice(const std::wstring& text, bool mayOpen)
{
    OV_LOG(LOG_INFO, kSource, L"notice: %s", text.c_str());
    if (failureBox_) {
        failureBox_->SetMessage(text);
        return;
    }
    if (!mayOpen)
        return;
    // Modeless: the installer stays usable and the box frees itself.
    failureBox_ = CMsgBoxDlg::Open(hwnd_, text, L"提示信息", L"澄岳提示");
    if (failureBox_)
        failureBox_->TrackIn(&failureBox_);
}

void CMainDlg::OnStageFailed(FailureStage stage, int errType, int code)
{
    FailureFacts facts;
    facts.stage = stage;
    facts.errType = errType;
    facts.code = code;
    facts.freeKnown = QueryFreeBytes(packageDir_, &facts.freeBytes);
    // Without a report the download's own size is unknown; the installation
    // needs its 120 MB in any case.
    facts.neededBytes = remainingBytes_ != 0 ? remainingBytes_ : kRequiredFreeBytes;
    const NoticeKind kind = ClassifyFailure(facts);

    retryStage_ = stage;
    // A package that failed its check comes again in full, so its bytes are
    // no progress: those failures keep their own count.
    if (kind == NoticeKind::kPackageCheck)
        ArmRetryTimer(RetryDelayMs(++checkFailures_, RetryKind::kPackageCheck, static_cast<uint32_t>(random_())));
    else
        ArmRetryTimer(RetryDelayMs(++failures_, RetryKind::kOrdinary, static_cast<uint32_t>(random_())));
    // One notice at a time: an open one shows the latest failure; a new one
    // opens only for the first failure after progress.
    ShowNotice(kind, failureBoxArmed_);
    failureBoxArmed_ = false;
}

void CMainDlg::FailInstall(NoticeKind kind, ExitCode exitCode)
{
    KillTimer(hwnd_, kInstallTimer);
    installing_ = false;
    exitCode_ = exitCode;
    // Not finished, whatever the animation had reached: the package may
    // have done nothing at all.
    if (percentLabel_)
        percentLabel_->SetText(L"安装失败");
    SetBarFill(static_cast<int>(BarWidth() * 0.9));
    // The run ends here: the notice is the last word, so it waits for the
    // user (any of its buttons), and no other notice stays beside it.
    if (failureBox_)
        failureBox_->Close(CMsgBoxDlg::kCancelled);
    CMsgBoxDlg::ShowModal(hwnd_, NoticeText(kind), L"提示信息", L"澄岳提示");
    Close(1);
}

UpdateModule* CMainDlg::CreateUpdater(const std::wstring& packageDir)
{
    return new UpdateModule(CAppState::Instance(), this, CompiledUpdateConfig(packageDir));
}

bool CMainDlg::QueryFreeBytes(const std::wstring& path, uint64_t* bytes)
{
    // A directory that does not exist yet tells nothing: ask its nearest
    // existing ancestor, which lies on the same volume.
    std::wstring dir = path;
    for (;;) {
        ULARGE_INTEGER available = {};
        if (GetDiskFreeSpaceExW(dir.c_str(), &available, nullptr, nullptr)) {
            *bytes = available.QuadPart;
            return true;
        }
        const size_t slash = dir.find_last_of(L'\\');
        if (slash == std::wstring::npos || slash == 0)
            return false;
        dir.resize(slash);
    }
}

void CMainDlg::ArmRetryTimer(UINT delayMs)
{
    SetTimer(hwnd_, kRetryTimer, delayMs, nullptr);
}

bool CMainDlg::PrepareStaging(std::wstring* dir)
{
    if (!PrepareStagingFolder(staging_))
        return false;
    *dir = staging_.Path();
    return true;
}

const LockedPackage* CMainDlg::HeldPackage() const
{
    if (shippedPackage_.IsOpen())
        return &shippedPackage_;
    return updater_ ? updater_->HeldPackage() : nullptr;
}

void CMainDlg::StartDownloadPhase()
{
    // Nothing the elevated installer writes or runs goes anywhere else.
    if (!PrepareStaging(&packageDir_)) {
        OnDownloadResult(ERR_USER, UM_ERR_STAGING, PackageDirRefusalText(UM_ERR_STAGING));
        return;
    }
    if (!shippedPackagePath_.empty()) {
        if (StageShippedPackage(shippedPackage_, shippedPackagePath_, packageDir_ + L"\\ovinstaller.exe",
                                PublisherKeys::Compiled(), ReleasePolicy::Compiled())) {
            OnDownloadResult(0, 0, L"");
            return;
        }
        // Not the publisher's: fetched as if nothing were shipped.
        shippedPackagePath_.clear();
    }
    updater_ = CreateUpdater(packageDir_);
    // Every outcome, a refused directory included, reaches this window as a
    // listener call.
    updater_->Start();
}

void CMainDlg::OnRetryTimer()
{
    KillTimer(hwnd_, kRetryTimer);
    if (!updater_)
        return;
    if (retryStage_ == FailureStage::kDownload)
        updater_->ResumeInstallerDownload();
    else
        updater_->RetryManifest();
}

void CMainDlg::UpdateFreeSpace()
{
    const std::wstring drive = installDir_.size() >= 2 ? installDir_.substr(0, 2) : std::wstring();
    uint64_t available = 0;
    if (!QueryFreeBytes(drive, &available))
        available = 0;
    if (freeSpaceLabel_)
        freeSpaceLabel_->SetText(FormatSize(available));
    const bool enough = available >= kRequiredFreeBytes;
    if (installNowButton_)
        installNowButton_->SetEnabled(enough);
    if (freeSpaceLabel_)
        freeSpaceLabel_->SetEnabled(enough);
}

int CMainDlg::BarWidth() const
{
    if (!progress_)
        return 0;
    // In design pixels: the bar's image description is scaled when drawn.
    const RECT& r = progress_->GetPosition();
    return paintHost_.Unpx(r.right - r.left);
}

void CMainDlg::SetBarFill(int fill)
{
    if (!progress_)
        return;
    const std::wstring image = Format(
        L"file='progress_bk.png' dest='0,0,%d,30' file='progress_fore.png' corner='0,15,5,15' dest='0,0,%d,30' ",
        BarWidth(), fill);
    progress_->SetProperty(L"bkimage", image.c_str());
    // The bar's value is what a screen reader reads out ("42%").
    const int width = BarWidth();
    if (CProgressUI* bar = dynamic_cast<CProgressUI*>(progress_))
        bar->SetValue(width > 0 ? (fill * 100 + width / 2) / width : 0);
}

void CMainDlg::SelectPage(int index)
{
    if (CTabLayoutUI* tabs = dynamic_cast<CTabLayoutUI*>(pages_))
        tabs->Select(index);
}

void CMainDlg::OnDownloadProgress(uint64_t total, uint64_t completed, int speed, int reserved)
{
    failureBoxArmed_ = true;
    if (completed > bestCompleted_) {
        bestCompleted_ = completed;
        failures_ = 0;
    }
    const uint64_t remaining = total >= completed ? total - completed : 0;
    remainingBytes_ = remaining;
    if (percentLabel_)
        percentLabel_->SetText(Format(L"下载中\n剩%s", FormatSize(remaining).c_str()));
    // An unknown total (0) draws no fill rather than dividing by zero.
    int fill = 0;
    if (total > 0)
        fill = static_cast<int>(BarWidth() * 0.9 * static_cast<double>(completed) / static_cast<double>(total));
    SetBarFill(fill);
}

void CMainDlg::OnDownloadResult(int errType, int code, const std::wstring& message)
{
    if (errType == 0 && code == 0) {
        KillTimer(hwnd_, kRetryTimer);
        failures_ = 0;
        checkFailures_ = 0;
        installing_ = true;
        if (percentLabel_)
            percentLabel_->SetText(L"安装中\n90%");
        SetBarFill(static_cast<int>(BarWidth() * 0.9));
        SetTimer(hwnd_, kInstallTimer, kInstallTickMs, nullptr);
        return;
    }
    if (IsPackageDirRefusal(errType, code)) {
        // Retrying would meet the same directory: the notice says why instead
        // (the module gives its text), and it always shows.
        KillTimer(hwnd_, kRetryTimer);
        ShowNotice(message, true);
        return;
    }
    OnStageFailed(FailureStage::kDownload, errType, code);
}

void CMainDlg::OnManifestResult(int errType, int code, const std::wstring& text)
{
    if (errType == 0) {
        // A manifest is progress: the download starts with a fresh count.
        failures_ = 0;
        failureBoxArmed_ = true;
        return;
    }
    OnStageFailed(FailureStage::kManifest, errType, code);
}

void CMainDlg::OnInstallTick()
{
    if (installTicks_ == 1) {
        // Only the package checked and held since its check runs; without
        // one there is nothing that may run.
        const LockedPackage* held = HeldPackage();
        if (!held) {
            FailInstall(NoticeKind::kPackageStart, kExitPackageNotStarted);
            return;
        }
        installerPath_ = held->Path();
        const DWORD started = RunInstaller(installerPath_, installDir_, &installer_);
        // The package was held against changes since its check; its process
        // exists now (or it could not start), so it may be let go.
        shippedPackage_.Release();
        if (updater_)
            updater_->ReleasePackage();
        if (started != 0) {
            FailInstall(NoticeKind::kPackageStart, kExitPackageNotStarted);
            return;
        }
    }
    const int percent = 90 + installTicks_ * 10 / 100;
    if (percentLabel_)
        percentLabel_->SetText(Format(L"安装中\n%d%%", percent));
    SetBarFill(BarWidth() * percent / 100);
}

LRESULT CMainDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_TIMER && wParam == kAfterFirstPaintTimer) {
        KillTimer(hwnd_, kAfterFirstPaintTimer);
        CAppState::Instance().StartAfterFirstPaint();
        SetWindowIcons();
        CStartupTrace::Mark("after-first-paint");
        CStartupTrace::Flush(true);
        if (launcherNotStarted_) {
            launcherNotStarted_ = false;
            ShowNotice(NoticeKind::kLauncherStart, true);
        }
        return 0;
    }
    switch (msg) {
    case WM_PAINT:
        if (!painted_) {
            painted_ = true;
            SetTimer(hwnd_, kAfterFirstPaintTimer, kAfterFirstPaintMs, nullptr);
        }
        break;
    case WM_TIMER:
        if (wParam == kInstallTimer) {
            // Ticks belong to the installation phase alone: one posted to the
            // window at another time does nothing.
            if (!installing_)
                break;
            ++installTicks_;
            if (installTicks_ > kLastInstallTick) {
                KillTimer(hwnd_, kInstallTimer);
                // The wait for the package keeps this window painting and
                // answering (close requests get a notice meanwhile).
                const DWORD launcher = StartLauncherAndFinish(&installer_, installDir_,
                                                              static_cast<unsigned>(launchNumber_), installerPath_);
                if (launcher != 0) {
                    FailInstall(NoticeKind::kLauncherStart, kExitLauncherNotStarted);
                    return 0;
                }
                installing_ = false;
                Close(1);
                return 0;
            }
            OnInstallTick();
        } else if (wParam == kRetryTimer) {
            OnRetryTimer();
        }
        break;
    case WM_CLOSE:
        if (installing_) {
            // Leaving now would strand a half-installed client.
            ShowNotice(NoticeKind::kInstalling, true);
            return 0;
        }
        if (exitBox_) {
            // The system's close answers the open exit box; its result then
            // closes this window.
            exitBox_->Close(CMsgBoxDlg::kConfirmed);
            return 0;
        }
        if (updater_) {
            updater_->Stop();
            delete updater_;
            updater_ = nullptr;
        }
        break;
    case WM_KEYDOWN:
        // Escape is the close button's key (it asks first, as the button does).
        if (wParam == VK_ESCAPE) {
            OnCloseButton();
            return 0;
        }
        break;
    case WM_SYSCOMMAND:
        // Alt+F4 and the taskbar's close ask as the close button does; every
        // other system command goes to the default procedure (the Close item
        // of the system menu is disabled).
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            OnCloseButton();
            return 0;
        }
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    default:
        break;
    }
    return WindowImplBase::HandleMessage(msg, wParam, lParam);
}

void CMainDlg::OnWindowDestroyed(HWND hwnd)
{
    CSkinResources::ReleaseSkinResources();
    WindowImplBase::OnWindowDestroyed(hwnd);
    PostQuitMessage(exitCode_);
}

bool CMainDlg::AgreementSelected() const
{
    const COptionUI* option = dynamic_cast<const COptionUI*>(agreeOption_);
    return option != nullptr && option->IsSelected();
}
