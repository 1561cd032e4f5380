#include "app/InstallFlow.h"

// The codes of the module's results come with the HTTP headers, which need
// winsock2 ahead of windows.h.
#include <winsock2.h>
#include <windows.h>

#include "Runtime/TextUtil.h"
#include "Updater/UpdateModule.h"
#include "app/CommonUtils.h"
#include "app/InstallSteps.h"
#include "app/RetrySchedule.h"

namespace {

const int kPageDirectory = 1;
const int kPageProgress = 2;
const int kLastInstallTick = 100;
// The download fills the bar up to 90 %; the installation phase the rest.
const int kDownloadedPercent = 90;

const wchar_t kAgreementWarning[] = L"未勾选“同意软件许可协议”";
const wchar_t kInvalidDirectory[] = L"安装目录无效，请重新选择！";

FlowAction Act(FlowAction::Type type, int number = 0)
{
    FlowAction a{type};
    a.number = number;
    return a;
}

FlowAction Message(const std::wstring& text, bool asNotice)
{
    FlowAction a{FlowAction::kMessage};
    a.text = text;
    a.flag = asNotice;
    return a;
}

FlowAction WithText(FlowAction::Type type, const std::wstring& text, const std::wstring& text2 = std::wstring())
{
    FlowAction a{type};
    a.text = text;
    a.text2 = text2;
    return a;
}

void Append(FlowActions& to, FlowActions more)
{
    to.insert(to.end(), more.begin(), more.end());
}

}  // namespace

FlowAction InstallFlow::Notice(const std::wstring& text, bool mayOpen)
{
    FlowAction a = WithText(FlowAction::kNotice, text);
    a.flag = mayOpen;
    return a;
}

FlowAction InstallFlow::Percent(int percent)
{
    return WithText(FlowAction::kSetPercent, Format(L"安装中\n%d%%", percent));
}

FlowActions InstallFlow::OnOpened(const Start& start)
{
    launchNumber_ = start.launchNumber;
    if (!start.earlierInstallDir.empty())
        installDir_ = start.earlierInstallDir;  // an earlier installation's directory is proposed
    shippedPackage_ = start.shippedPackage;
    // An installed launcher is simply started; the window is never used then.
    if (!start.launcherPath.empty())
        return {WithText(FlowAction::kStartLauncher, start.launcherPath,
                         LauncherCommandLine(start.launcherPath, launchNumber_))};
    return {};
}

FlowActions InstallFlow::OnLauncherStarted(bool started)
{
    if (started)
        return {Act(FlowAction::kEndRun, kExitOk)};
    // Installing again is what the notice asks for; the window offers it.
    launcherNotStarted_ = true;
    return {};
}

FlowActions InstallFlow::OnAfterFirstPaint()
{
    if (!launcherNotStarted_)
        return {};
    launcherNotStarted_ = false;
    return {Notice(NoticeText(NoticeKind::kLauncherStart), true)};
}

FlowActions InstallFlow::OnInstallClick(bool agreed)
{
    if (!agreed)
        return {Message(kAgreementWarning, false)};
    if (installDir_.empty())
        installDir_ = queries_.DefaultInstallDir();
    FlowActions out = {Act(FlowAction::kShowPage, kPageProgress)};
    Append(out, StartDownloadPhase());
    return out;
}

FlowActions InstallFlow::OnCustomClick(bool agreed)
{
    if (!agreed)
        return {Message(kAgreementWarning, false)};
    if (installDir_.empty())
        installDir_ = queries_.DefaultInstallDir();
    return {Act(FlowAction::kShowPage, kPageDirectory), WithText(FlowAction::kSetDirectory, installDir_)};
}

FlowActions InstallFlow::OnInstallNowClick(const std::wstring& typedDir)
{
    installDir_ = typedDir;
    // The directory goes unquoted into the package's command line: one that
    // would change what that line says is not taken.
    if (!IsUsableInstallDir(installDir_))
        return {Message(kInvalidDirectory, false)};
    FlowActions out = {Act(FlowAction::kShowPage, kPageProgress)};
    Append(out, StartDownloadPhase());
    return out;
}

FlowActions InstallFlow::OnBrowseClick()
{
    return {WithText(FlowAction::kBrowse, installDir_)};
}

FlowActions InstallFlow::OnBrowsed(std::wstring chosen)
{
    if (!chosen.empty() && chosen.back() == L'\\')
        chosen.pop_back();  // "D:\" becomes "D:"
    if (chosen.empty())
        return {};
    installDir_ = chosen;
    FlowActions out = {WithText(FlowAction::kSetDirectory, installDir_)};
    Append(out, FreeSpace());
    return out;
}

FlowActions InstallFlow::OnDirectoryTyped(const std::wstring& dir)
{
    installDir_ = dir;
    return FreeSpace();
}

FlowActions InstallFlow::FreeSpace()
{
    const std::wstring drive = installDir_.size() >= 2 ? installDir_.substr(0, 2) : std::wstring();
    uint64_t available = 0;
    if (!queries_.FreeBytes(drive, &available))
        available = 0;
    FlowAction a = WithText(FlowAction::kSetFreeSpace, FormatSize(available));
    a.flag = available >= kRequiredFreeBytes;
    return {a};
}

FlowActions InstallFlow::OnLicenceClick()
{
    return {Act(FlowAction::kOpenLicence)};
}

FlowActions InstallFlow::OnLicenceOpened(bool opened)
{
    if (opened)
        return {};
    return {Notice(NoticeText(NoticeKind::kLicencePage), true)};
}

FlowActions InstallFlow::InstallingCloseNotice() const
{
    return {Notice(NoticeText(NoticeKind::kInstalling), true)};
}

FlowActions InstallFlow::OnCloseButton()
{
    if (installing_)
        return InstallingCloseNotice();
    if (exitAsked_)
        return {};  // one exit box at a time
    exitAsked_ = true;
    return {Act(FlowAction::kAskExit)};
}

FlowActions InstallFlow::OnExitAnswered(bool confirmed)
{
    exitAsked_ = false;
    if (!confirmed)
        return {};
    return {Act(FlowAction::kEndRun, kExitOk)};
}

FlowActions InstallFlow::OnCloseMessage()
{
    if (installing_) {
        // Leaving now would strand a half-installed client.
        FlowActions out = InstallingCloseNotice();
        out.push_back(Act(FlowAction::kKeepOpen));
        return out;
    }
    // The system's close answers the open exit box; its answer then ends the run.
    if (exitAsked_)
        return {Act(FlowAction::kConfirmExit), Act(FlowAction::kKeepOpen)};
    if (!updaterStarted_)
        return {};
    updaterStarted_ = false;
    return {Act(FlowAction::kStopUpdater)};
}

FlowActions InstallFlow::StartDownloadPhase()
{
    // Nothing the elevated installer writes or runs goes anywhere but the
    // staging folder.
    return {Act(FlowAction::kPrepareStaging)};
}

FlowActions InstallFlow::OnStaged(const std::wstring& packageDir)
{
    if (packageDir.empty())
        return OnDownloadResult(ERR_USER, UM_ERR_STAGING, PackageDirRefusalText(UM_ERR_STAGING));
    packageDir_ = packageDir;
    // A package shipped beside the program needs no network.
    if (!shippedPackage_.empty())
        return {WithText(FlowAction::kStageShipped, shippedPackage_, packageDir_ + L"\\ovinstaller.exe")};
    return OnShippedStaged(false);
}

FlowActions InstallFlow::OnShippedStaged(bool ok)
{
    if (ok)
        return OnDownloadResult(0, 0, L"");
    // Not the publisher's (or none): fetched as if nothing were shipped. Every
    // outcome, a refused directory included, comes back as a listener call.
    shippedPackage_.clear();
    updaterStarted_ = true;
    return {WithText(FlowAction::kStartUpdater, packageDir_)};
}

FlowActions InstallFlow::OnDownloadProgress(uint64_t total, uint64_t completed)
{
    noticeArmed_ = true;
    if (completed > bestCompleted_) {
        bestCompleted_ = completed;
        failures_ = 0;
    }
    remainingBytes_ = total >= completed ? total - completed : 0;
    // An unknown total (0) draws no fill rather than dividing by zero.
    const uint64_t shown = completed < total ? completed : total;
    const int bar = total > 0 ? static_cast<int>(kDownloadedPercent * 10 * shown / total) : 0;
    return {WithText(FlowAction::kSetPercent, Format(L"下载中\n剩%s", FormatSize(remainingBytes_).c_str())),
            Act(FlowAction::kSetBar, bar)};
}

FlowActions InstallFlow::OnDownloadResult(int errType, int code, const std::wstring& message)
{
    if (errType == 0 && code == 0) {
        failures_ = 0;
        checkFailures_ = 0;
        installing_ = true;
        return {Act(FlowAction::kStopRetry), Percent(kDownloadedPercent),
                Act(FlowAction::kSetBar, kDownloadedPercent * 10), Act(FlowAction::kStartInstallTimer, kInstallTickMs)};
    }
    if (IsPackageDirRefusal(errType, code)) {
        // Retrying would meet the same directory: the notice says why instead
        // (the module gives its text), and it always shows.
        return {Act(FlowAction::kStopRetry), Notice(message, true)};
    }
    return OnStageFailed(FailureStage::kDownload, errType, code);
}

FlowActions InstallFlow::OnManifestResult(int errType, int code)
{
    if (errType == 0) {
        // A manifest is progress: the download starts with a fresh count.
        failures_ = 0;
        noticeArmed_ = true;
        return {};
    }
    return OnStageFailed(FailureStage::kManifest, errType, code);
}

FlowActions InstallFlow::OnStageFailed(FailureStage stage, int errType, int code)
{
    FailureFacts facts;
    facts.stage = stage;
    facts.errType = errType;
    facts.code = code;
    facts.freeKnown = queries_.FreeBytes(packageDir_, &facts.freeBytes);
    // Without a report the download's own size is unknown; the installation
    // needs its 120 MB in any case.
    facts.neededBytes = remainingBytes_ != 0 ? remainingBytes_ : kRequiredFreeBytes;
    const NoticeKind kind = ClassifyFailure(facts);

    retryStage_ = stage;
    // A package that failed its check comes again in full, so its bytes are
    // no progress: those failures keep their own count.
    const unsigned delay =
        kind == NoticeKind::kPackageCheck
            ? RetryDelayMs(++checkFailures_, RetryKind::kPackageCheck, static_cast<uint32_t>(random_()))
            : RetryDelayMs(++failures_, RetryKind::kOrdinary, static_cast<uint32_t>(random_()));
    const bool mayOpen = noticeArmed_;
    noticeArmed_ = false;
    return {Act(FlowAction::kArmRetry, static_cast<int>(delay)), Notice(NoticeText(kind), mayOpen)};
}

FlowActions InstallFlow::OnRetryTimer()
{
    FlowActions out = {Act(FlowAction::kStopRetry)};
    if (updaterStarted_)
        out.push_back(Act(retryStage_ == FailureStage::kDownload ? FlowAction::kResumeDownload
                                                                  : FlowAction::kRetryManifest));
    return out;
}

FlowActions InstallFlow::OnInstallTick()
{
    // Ticks belong to the installation phase alone: one at another time does nothing.
    if (!installing_)
        return {};
    ++installTicks_;
    if (installTicks_ > kLastInstallTick) {
        // The hand-off waits for the package while the window keeps painting
        // and answering (close requests get a notice meanwhile).
        FlowAction handOff = WithText(FlowAction::kHandOff, installDir_);
        handOff.number = static_cast<int>(launchNumber_);
        return {Act(FlowAction::kStopInstallTimer), handOff};
    }
    // Only the package checked and held since its check runs.
    if (installTicks_ == 1)
        return {WithText(FlowAction::kRunPackage, installDir_)};
    const int percent = kDownloadedPercent + installTicks_ * (100 - kDownloadedPercent) / kLastInstallTick;
    return {Percent(percent), Act(FlowAction::kSetBar, percent * 10)};
}

FlowActions InstallFlow::OnPackageStarted(PackageStart result)
{
    if (result == PackageStart::kNoneHeld)
        return FailInstall(NoticeKind::kPackageStart, kExitPackageNotStarted);
    // The package was held against changes since its check; its process
    // exists now (or it could not start), so it may be let go.
    FlowActions out = {Act(FlowAction::kReleasePackage)};
    if (result == PackageStart::kFailed) {
        Append(out, FailInstall(NoticeKind::kPackageStart, kExitPackageNotStarted));
        return out;
    }
    const int percent = kDownloadedPercent + installTicks_ * (100 - kDownloadedPercent) / kLastInstallTick;
    out.push_back(Percent(percent));
    out.push_back(Act(FlowAction::kSetBar, percent * 10));
    return out;
}

FlowActions InstallFlow::OnHandedOver(bool launcherStarted)
{
    if (!launcherStarted)
        return FailInstall(NoticeKind::kLauncherStart, kExitLauncherNotStarted);
    installing_ = false;
    return {Act(FlowAction::kEndRun, kExitOk)};
}

FlowActions InstallFlow::FailInstall(NoticeKind kind, ExitCode exitCode)
{
    installing_ = false;
    // Not finished, whatever the animation had reached: the package may have
    // done nothing at all. The notice is the run's last word, so it waits for
    // the user, and no other notice stays beside it.
    return {Act(FlowAction::kStopInstallTimer), WithText(FlowAction::kSetPercent, L"安装失败"),
            Act(FlowAction::kSetBar, kDownloadedPercent * 10), Act(FlowAction::kCloseNotice),
            Message(NoticeText(kind), true), Act(FlowAction::kEndRun, exitCode)};
}
