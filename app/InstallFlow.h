#pragma once
// The install window's decisions, with no window: what a click does on each
// page, the free-space gate, the launcher found at start, the package shipped
// beside the program, the failure notices and the retry waits, the ten-second
// installation phase and the order of the hand-off. The window (CMainDlg)
// forwards what happened as events and carries out the actions each event
// answers with, in their order; some actions come back as events (a started
// package, a chosen folder, the exit box's answer).
//
// Pages of tb_main: 0 start (install button, agreement, custom-install link),
// 1 directory choice, 2 progress.
//
// Failures: at most one failure notice is open and a later failure updates
// its text (the window keeps the box); a new one opens only for the first
// failure after progress (FailureNotice.h picks the text). The failed stage
// is tried again on the retry timer, with waits from RetrySchedule.h; new
// package bytes or a manifest reset the count. A package or launcher that
// cannot be started ends the run with a notice saying which, and a non-zero
// exit code.
//
// Threads: UI thread (events come from the window and the update module's
// listener calls there). Ownership: the window owns the flow; the flow holds
// only the facts it was told and the Queries it was given (which outlive it).

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "app/FailureNotice.h"

// One step for the window. Which fields count depends on the type.
struct FlowAction {
    enum Type {
        kShowPage,          // number: the page of tb_main
        kSetDirectory,      // text: into the directory field
        kSetFreeSpace,      // text: the free-space label; flag: enough (label and install button enabled)
        kSetPercent,        // text: the percent label
        kSetBar,            // number: the bar's value, 0 to InstallFlow::kBarScale
        kNotice,            // text, modeless: the open notice takes it; flag: else a new one may open
        kCloseNotice,       // the open notice goes
        kMessage,           // text, modal; flag: as a failure notice (else a hint)
        kAskExit,           // the modal exit box; its answer comes as OnExitAnswered
        kConfirmExit,       // the open exit box is answered "confirmed"
        kKeepOpen,          // the close message stops here
        kBrowse,            // the folder chooser at `text`; its answer comes as OnBrowsed
        kOpenLicence,       // the licence page; OnLicenceOpened follows
        kStartLauncher,     // text: launcher, text2: its command line, as the user; OnLauncherStarted follows
        kPrepareStaging,    // OnStaged follows
        kStageShipped,      // text: the shipped package, text2: its staged copy; OnShippedStaged follows
        kStartUpdater,      // text: the package directory
        kStopUpdater,       // stopped and gone
        kRetryManifest,
        kResumeDownload,
        kArmRetry,          // number: the retry timer fires once after this many ms
        kStopRetry,
        kStartInstallTimer, // number: its period in ms
        kStopInstallTimer,
        kRunPackage,        // text: the install directory; OnPackageStarted follows
        kReleasePackage,    // the checked package is let go
        kHandOff,           // text: install directory, number: launch number; OnHandedOver follows
        kEndRun,            // number: the exit code; the window closes
    };
    Type type;
    int number = 0;
    bool flag = false;
    std::wstring text;
    std::wstring text2;
};
using FlowActions = std::vector<FlowAction>;

class InstallFlow {
public:
    // The process's exit code. 1 is the framework's: the layout could not be loaded.
    enum ExitCode {
        kExitOk = 0,  // handed over to the launcher, or the user left
        kExitPackageNotStarted = 2,
        kExitLauncherNotStarted = 3,
    };
    enum class PackageStart { kNoneHeld, kStarted, kFailed };
    static const uint64_t kRequiredFreeBytes = 125829120;  // 120 MB
    static const int kBarScale = 1000;
    static const int kInstallTickMs = 100;

    // What the machine answers at once; the product's asks the system.
    class Queries {
    public:
        // Free bytes for the caller on the volume of `path`; false when unknown.
        virtual bool FreeBytes(const std::wstring& path, uint64_t* bytes) = 0;
        virtual std::wstring DefaultInstallDir() = 0;

    protected:
        ~Queries() = default;
    };

    // What the window found before it was first shown.
    struct Start {
        unsigned launchNumber = 0;
        std::wstring launcherPath;  // an installed launcher; empty when none was found
        std::wstring earlierInstallDir;  // proposed when not empty
        // "ovinstaller.exe" beside the program with its marker "ovmain.dll";
        // empty otherwise (the marker alone changes nothing).
        std::wstring shippedPackage;
    };

    InstallFlow(Queries& queries, uint32_t seed) : queries_(queries), random_(seed) {}

    FlowActions OnOpened(const Start& start);
    FlowActions OnLauncherStarted(bool started);
    FlowActions OnAfterFirstPaint();

    // Clicks; `agreed`: the agreement's option is ticked.
    FlowActions OnInstallClick(bool agreed);
    FlowActions OnCustomClick(bool agreed);
    FlowActions OnInstallNowClick(const std::wstring& typedDir);
    FlowActions OnBrowseClick();
    FlowActions OnBrowsed(std::wstring chosen);
    FlowActions OnDirectoryTyped(const std::wstring& dir);
    FlowActions OnLicenceClick();
    FlowActions OnLicenceOpened(bool opened);
    // The close button, Escape, Alt+F4.
    FlowActions OnCloseButton();
    FlowActions OnExitAnswered(bool confirmed);
    // The window's close message.
    FlowActions OnCloseMessage();

    // The staging folder's path, or empty when there is none.
    FlowActions OnStaged(const std::wstring& packageDir);
    FlowActions OnShippedStaged(bool ok);
    FlowActions OnDownloadProgress(uint64_t total, uint64_t completed);
    FlowActions OnDownloadResult(int errType, int code, const std::wstring& message);
    FlowActions OnManifestResult(int errType, int code);
    FlowActions OnRetryTimer();
    FlowActions OnInstallTick();
    FlowActions OnPackageStarted(PackageStart result);
    FlowActions OnHandedOver(bool launcherStarted);

    const std::wstring& InstallDir() const { return installDir_; }
    const std::wstring& PackageDir() const { return packageDir_; }
    int InstallTicks() const { return installTicks_; }
    int ConsecutiveFailures() const { return failures_; }
    bool Installing() const { return installing_; }

private:
    FlowActions StartDownloadPhase();
    FlowActions OnStageFailed(FailureStage stage, int errType, int code);
    FlowActions FailInstall(NoticeKind kind, ExitCode exitCode);
    FlowActions FreeSpace();
    FlowActions InstallingCloseNotice() const;
    static FlowAction Notice(const std::wstring& text, bool mayOpen);
    static FlowAction Percent(int percent);

    Queries& queries_;
    std::minstd_rand random_;
    std::wstring installDir_;
    std::wstring packageDir_;
    std::wstring shippedPackage_;
    unsigned launchNumber_ = 0;
    // The installed launcher could not be started with the user's rights:
    // the notice follows the first paint.
    bool launcherNotStarted_ = false;
    bool updaterStarted_ = false;
    bool exitAsked_ = false;
    // From the package's start until the hand-over: closing now would leave
    // a half-installed client, so close requests get a notice instead.
    bool installing_ = false;
    int installTicks_ = 0;
    // A failure may open a notice only when it is the first since progress.
    bool noticeArmed_ = true;
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
};
