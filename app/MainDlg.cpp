#include "app/MainDlg.h"

#include "Runtime/FileOps.h"
#include "Runtime/Logger.h"
#include "Runtime/StartupTrace.h"
#include "Updater/Endpoints.h"
#include "Updater/UpdateModule.h"
#include "app/AppState.h"
#include "app/CommonUtils.h"
#include "app/MsgBoxDlg.h"
#include "app/UserStart.h"
#include "ui/Control.h"
#include "ui/Option.h"
#include "ui/Progress.h"
#include "ui/SkinResources.h"
#include "ui/TabLayout.h"

namespace {

const wchar_t kSource[] = L".\\app\\MainDlg";

}  // namespace

CMainDlg::CMainDlg() : flow_(*this, GetTickCount() ^ GetCurrentProcessId()) {}

CMainDlg::~CMainDlg()
{
    // An open notice outliving this object must not clear a freed member.
    if (failureBox_)
        failureBox_->TrackIn(nullptr);
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

    progress_ = Find(L"pro_InstallProgress");
    percentLabel_ = Find(L"lb_InstallPercent");
    pages_ = Find(L"tb_main");
    dirEdit_ = Find(L"edit_input");
    freeSpaceLabel_ = Find(L"lb_leftspace");
    installNowButton_ = Find(L"btn_install2");
    agreeOption_ = Find(L"opt_agree");
    if (CProgressUI* bar = dynamic_cast<CProgressUI*>(progress_)) {
        bar->SetMinValue(0);
        bar->SetMaxValue(InstallFlow::kBarScale);
    }

    InstallFlow::Start start;
    start.launchNumber = CAppState::Instance().LaunchNumber();
    const InstalledLauncher found = FindInstalledLauncher();
    start.earlierInstallDir = found.installDir;
    if (found.found)
        start.launcherPath = found.launcherPath;
    const std::wstring marker = GetModuleDir() + L"\\ovmain.dll", shipped = GetModuleDir() + L"\\ovinstaller.exe";
    if (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesW(shipped.c_str()) != INVALID_FILE_ATTRIBUTES)
        start.shippedPackage = shipped;
    Execute(flow_.OnOpened(start));
}

void CMainDlg::Notify(TNotifyRecord& msg)
{
    const std::wstring name = msg.sender ? msg.sender->GetName() : std::wstring();
    const COptionUI* agreement = dynamic_cast<const COptionUI*>(agreeOption_);
    const bool agreed = agreement != nullptr && agreement->IsSelected();
    if (msg.type == L"click") {
        if (name == L"btn_close") {
            Execute(flow_.OnCloseButton());
            return;  // not the framework's close
        }
        if (name == L"btn_install")
            Execute(flow_.OnInstallClick(agreed));
        else if (name == L"btn_free")
            Execute(flow_.OnCustomClick(agreed));
        else if (name == L"btn_install2")
            Execute(flow_.OnInstallNowClick(dirEdit_->GetText()));
        else if (name == L"btn_select")
            Execute(flow_.OnBrowseClick());
        else if (name == L"btn_agreement")
            Execute(flow_.OnLicenceClick());
    } else if (msg.type == L"textchanged" && msg.sender == dirEdit_) {
        Execute(flow_.OnDirectoryTyped(dirEdit_->GetText()));
    }
    WindowImplBase::Notify(msg);
}

bool CMainDlg::Execute(const FlowActions& actions)
{
    // An action may run a modal loop whose events answer with more: those are
    // carried out at once, before the rest of this list.
    bool keepOpen = false;
    for (const FlowAction& action : actions) {
        keepOpen = keepOpen || action.type == FlowAction::kKeepOpen;
        Do(action);
    }
    return keepOpen;
}

void CMainDlg::Do(const FlowAction& a)
{
    using A = FlowAction;
    switch (a.type) {
    case A::kShowPage:
        if (CTabLayoutUI* tabs = dynamic_cast<CTabLayoutUI*>(pages_))
            tabs->Select(a.number);
        break;
    case A::kSetDirectory: dirEdit_->SetText(a.text); break;
    case A::kSetFreeSpace:
        freeSpaceLabel_->SetText(a.text);
        freeSpaceLabel_->SetEnabled(a.flag);
        installNowButton_->SetEnabled(a.flag);
        break;
    case A::kSetPercent: percentLabel_->SetText(a.text); break;
    case A::kSetBar:
        if (CProgressUI* bar = dynamic_cast<CProgressUI*>(progress_))
            bar->SetValue(a.number);
        break;
    case A::kNotice: ShowNotice(a.text, a.flag); break;
    case A::kCloseNotice:
        if (failureBox_)
            failureBox_->Close(CMsgBoxDlg::kCancelled);
        break;
    case A::kMessage: CMsgBoxDlg::ShowModal(hwnd_, a.text, L"提示信息", a.flag ? L"澄岳提示" : L"提示"); break;
    case A::kAskExit: AskExit(); break;
    case A::kConfirmExit:
        if (exitBox_)
            exitBox_->Close(CMsgBoxDlg::kConfirmed);
        break;
    case A::kKeepOpen: break;
    case A::kBrowse: Execute(flow_.OnBrowsed(BrowseForFolder(hwnd_, a.text))); break;
    case A::kOpenLicence: Execute(flow_.OnLicenceOpened(OpenAsSignedInUser(hwnd_, LicenceUrl()) == 0)); break;
    // With the signed-in user's rights, never this installer's.
    case A::kStartLauncher: Execute(flow_.OnLauncherStarted(StartAsSignedInUser(a.text, a.text2) == 0)); break;
    case A::kPrepareStaging: Execute(flow_.OnStaged(PrepareStaging())); break;
    case A::kStageShipped:
        Execute(flow_.OnShippedStaged(StageShippedPackage(shippedPackage_, a.text, a.text2, PublisherKeys::Compiled(),
                                                          ReleasePolicy::Compiled())));
        break;
    case A::kStartUpdater:
        updater_.reset(CreateUpdater(a.text));
        updater_->Start();
        break;
    case A::kStopUpdater:
        updater_->Stop();
        updater_.reset();
        break;
    case A::kRetryManifest: updater_->RetryManifest(); break;
    case A::kResumeDownload: updater_->ResumeInstallerDownload(); break;
    case A::kArmRetry: ArmRetryTimer(static_cast<UINT>(a.number)); break;
    case A::kStopRetry: KillTimer(hwnd_, kRetryTimer); break;
    case A::kStartInstallTimer: SetTimer(hwnd_, kInstallTimer, static_cast<UINT>(a.number), nullptr); break;
    case A::kStopInstallTimer: KillTimer(hwnd_, kInstallTimer); break;
    case A::kRunPackage: Execute(flow_.OnPackageStarted(RunPackage(a.text))); break;
    case A::kReleasePackage:
        shippedPackage_.Release();
        if (updater_)
            updater_->ReleasePackage();
        break;
    case A::kHandOff: {
        // The hand-off waits for the package and lets its handles go.
        const DWORD started = StartLauncherAndFinish(&installer_, a.text, static_cast<unsigned>(a.number), installerPath_);
        Execute(flow_.OnHandedOver(started == 0));
        break;
    }
    case A::kEndRun:
        exitCode_ = a.number;
        Close(1);
        break;
    }
}

void CMainDlg::ShowNotice(const std::wstring& text, bool mayOpen)
{
    OV_LOG(LOG_INFO, kSource, L"notice: %s", text.c_str());
    if (failureBox_)
        failureBox_->SetMessage(text);
    // Modeless: the installer stays usable and the box frees itself.
    else if (mayOpen && (failureBox_ = CMsgBoxDlg::Open(hwnd_, text, L"提示信息", L"澄岳提示")) != nullptr)
        failureBox_->TrackIn(&failureBox_);
}

void CMainDlg::AskExit()
{
    exitBox_ = CMsgBoxDlg::Open(hwnd_, L"是否退出安装？", L"", L"退出安装");
    const UINT result = exitBox_ ? exitBox_->RunModal() : 0;  // the box is gone afterwards
    exitBox_ = nullptr;
    Execute(flow_.OnExitAnswered(result == CMsgBoxDlg::kConfirmed));
}

InstallFlow::PackageStart CMainDlg::RunPackage(const std::wstring& installDir)
{
    // Only the package checked and held since its check may run.
    const LockedPackage* held = shippedPackage_.IsOpen() ? &shippedPackage_
                                                         : (updater_ ? updater_->HeldPackage() : nullptr);
    if (!held)
        return InstallFlow::PackageStart::kNoneHeld;
    installerPath_ = held->Path();
    const DWORD started = RunInstaller(installerPath_, installDir, &installer_);
    return started == 0 ? InstallFlow::PackageStart::kStarted : InstallFlow::PackageStart::kFailed;
}

UpdateModule* CMainDlg::CreateUpdater(const std::wstring& packageDir)
{
    return new UpdateModule(CAppState::Instance(), this, CompiledUpdateConfig(packageDir));
}

LRESULT CMainDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_PAINT:
        if (!painted_) {
            painted_ = true;
            SetTimer(hwnd_, kAfterFirstPaintTimer, kAfterFirstPaintMs, nullptr);
        }
        break;
    case WM_TIMER:
        if (wParam == kAfterFirstPaintTimer) {
            KillTimer(hwnd_, kAfterFirstPaintTimer);
            CAppState::Instance().StartAfterFirstPaint();
            SetWindowIcons();
            CStartupTrace::Mark("after-first-paint");
            CStartupTrace::Flush(true);
            Execute(flow_.OnAfterFirstPaint());
            return 0;
        }
        if (wParam == kInstallTimer)
            Execute(flow_.OnInstallTick());
        else if (wParam == kRetryTimer)
            Execute(flow_.OnRetryTimer());
        break;
    case WM_CLOSE:
        if (Execute(flow_.OnCloseMessage()))
            return 0;
        break;
    case WM_KEYDOWN:
        // Escape is the close button's key (it asks first, as the button does).
        if (wParam == VK_ESCAPE) {
            Execute(flow_.OnCloseButton());
            return 0;
        }
        break;
    case WM_SYSCOMMAND:
        // Alt+F4 and the taskbar's close ask as the close button does; every
        // other system command goes to the default procedure (the Close item
        // of the system menu is disabled).
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            Execute(flow_.OnCloseButton());
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

CControlUI* CMainDlg::Find(const wchar_t* name)
{
    if (CControlUI* control = paintHost_.FindByName(name))
        return control;
    OV_LOG(LOG_ERROR, kSource, L"the skin has no %s", name);
    if (!missing_)
        missing_.reset(new CControlUI);
    return missing_.get();
}
