// The install flow's decisions event by event, with no window: each answer is
// read as short lines, one per action ("page 2", "notice+ <text>").

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "Updater/UpdateModule.h"
#include "app/InstallFlow.h"

namespace {

using Lines = std::vector<std::wstring>;
const uint64_t kNeed = InstallFlow::kRequiredFreeBytes;
const wchar_t kStaging[] = L"C:\\staging";

struct Machine : InstallFlow::Queries {
    bool freeKnown = true;
    uint64_t freeBytes = 1ull << 40;
    std::vector<std::wstring> asked;
    bool FreeBytes(const std::wstring& path, uint64_t* bytes) override
    {
        asked.push_back(path);
        *bytes = freeBytes;
        return freeKnown;
    }
    std::wstring DefaultInstallDir() override { return L"D:\\default"; }
};

Lines Read(const FlowActions& actions)
{
    static const wchar_t* const kNames[] = {
        L"page", L"dir", L"free", L"percent", L"bar", L"notice", L"close-notice", L"message", L"ask-exit",
        L"confirm-exit", L"keep-open", L"browse", L"licence", L"launcher", L"staging", L"stage-shipped", L"updater",
        L"stop-updater", L"retry-manifest", L"resume", L"retry", L"stop-retry", L"install-timer",
        L"stop-install-timer", L"run-package", L"release", L"hand-off", L"end"};
    static_assert(sizeof(kNames) / sizeof(kNames[0]) == FlowAction::kEndRun + 1, "a name for every action");
    Lines out;
    for (const FlowAction& a : actions) {
        std::wstring line = kNames[a.type];
        if (a.flag)
            line += L"+";
        if (a.number != 0 || a.type == FlowAction::kSetBar || a.type == FlowAction::kEndRun)
            line += L" " + std::to_wstring(a.number);
        for (const std::wstring* t : {&a.text, &a.text2})
            if (!t->empty())
                line += L" " + *t;
        out.push_back(line);
    }
    return out;
}

std::wstring Notice(NoticeKind kind, bool mayOpen = true)
{
    return std::wstring(mayOpen ? L"notice+ " : L"notice ") + NoticeText(kind);
}

// The run's end after a failed hand-over.
Lines Failed(NoticeKind kind, int exitCode)
{
    return {L"stop-install-timer", L"percent 安装失败", L"bar 900", L"close-notice",
            std::wstring(L"message+ ") + NoticeText(kind), L"end " + std::to_wstring(exitCode)};
}

class Flow : public ::testing::Test {
protected:
    // The install click up to a running update module.
    void Download()
    {
        flow_.OnInstallClick(true);
        ASSERT_EQ(Lines{L"updater C:\\staging"}, Read(flow_.OnStaged(kStaging)));
    }
    // A failed stage's retry wait.
    unsigned FailedWait(int errType, int code, bool manifest = false)
    {
        const FlowActions a = manifest ? flow_.OnManifestResult(errType, code) : flow_.OnDownloadResult(errType, code, L"");
        EXPECT_EQ(FlowAction::kArmRetry, a.at(0).type);
        return static_cast<unsigned>(a.at(0).number);
    }

    Machine machine_;
    InstallFlow flow_{machine_, 7};
};

TEST_F(Flow, EachClickLeadsToItsPage)
{
    const std::wstring warning = L"message 未勾选“同意软件许可协议”";
    struct Case {
        const char* what;
        std::function<FlowActions(InstallFlow&)> click;
        Lines lines;
        std::wstring dir;
    } cases[] = {
        {"install, not agreed", [](InstallFlow& f) { return f.OnInstallClick(false); }, {warning}, L""},
        {"custom, not agreed", [](InstallFlow& f) { return f.OnCustomClick(false); }, {warning}, L""},
        {"install", [](InstallFlow& f) { return f.OnInstallClick(true); }, {L"page 2", L"staging"}, L"D:\\default"},
        {"custom", [](InstallFlow& f) { return f.OnCustomClick(true); }, {L"page 1", L"dir D:\\default"},
         L"D:\\default"},
        {"install now", [](InstallFlow& f) { return f.OnInstallNowClick(L"X:\\游戏"); }, {L"page 2", L"staging"},
         L"X:\\游戏"},
        // The directory goes unquoted into the package's command line.
        {"install now, a directory with options",
         [](InstallFlow& f) { return f.OnInstallNowClick(L"X:\\games /launch=on /S"); },
         {L"message 安装目录无效，请重新选择！"}, L"X:\\games /launch=on /S"},
    };
    for (const Case& c : cases) {
        Machine machine;
        InstallFlow flow(machine, 1);
        EXPECT_EQ(c.lines, Read(c.click(flow))) << c.what;
        EXPECT_EQ(c.dir, flow.InstallDir()) << c.what;
    }
    // An earlier installation's directory is proposed instead of the default.
    InstallFlow::Start start;
    start.earlierInstallDir = L"E:\\old";
    flow_.OnOpened(start);
    EXPECT_EQ((Lines{L"page 1", L"dir E:\\old"}), Read(flow_.OnCustomClick(true)));
}

TEST_F(Flow, TheInstallButtonFollowsTheFreeSpaceOfTheChosenDrive)
{
    struct Case {
        bool known;
        uint64_t free;
        const wchar_t* line;
    } cases[] = {{true, kNeed - 1, L"free 119MB"}, {true, kNeed, L"free+ 120MB"}, {true, kNeed + 1, L"free+ 120MB"},
                 {false, kNeed, L"free 0B"}};
    for (const Case& c : cases) {
        machine_.freeKnown = c.known;
        machine_.freeBytes = c.free;
        EXPECT_EQ(Lines{c.line}, Read(flow_.OnDirectoryTyped(L"X:\\games\\澄岳"))) << c.free;
        EXPECT_EQ(L"X:", machine_.asked.back());
    }
    // A chosen folder loses its trailing backslash; a cancelled choice changes nothing.
    machine_.freeKnown = true;
    EXPECT_EQ((Lines{L"dir Q:", L"free+ 120MB"}), Read(flow_.OnBrowsed(L"Q:\\")));
    EXPECT_EQ(Lines{L"browse Q:"}, Read(flow_.OnBrowseClick()));
    EXPECT_TRUE(flow_.OnBrowsed(L"").empty());
    EXPECT_EQ(L"Q:", flow_.InstallDir());
}

TEST_F(Flow, ProgressShowsTheRemainingSizeAndFillsTheBarUpToNinetyPercent)
{
    struct Case {
        uint64_t total, completed;
        const wchar_t* percent;
        const wchar_t* bar;
    } cases[] = {{kNeed, 0, L"percent 下载中\n剩120MB", L"bar 0"},
                 {kNeed, kNeed / 2, L"percent 下载中\n剩60MB", L"bar 450"},
                 {1000, 1000, L"percent 下载中\n剩0B", L"bar 900"},
                 {0, 500, L"percent 下载中\n剩0B", L"bar 0"}};  // an unknown total fills nothing
    for (const Case& c : cases)
        EXPECT_EQ((Lines{c.percent, c.bar}), Read(flow_.OnDownloadProgress(c.total, c.completed))) << c.completed;
}

TEST_F(Flow, AFailureOpensANoticeOnlyWhenItIsTheFirstSinceProgress)
{
    Download();
    EXPECT_EQ((Lines{L"retry 5000", Notice(NoticeKind::kNetwork)}), Read(flow_.OnDownloadResult(ERR_HTTP, 500, L"")));
    // Without progress a later failure only updates an open notice.
    EXPECT_EQ(Notice(NoticeKind::kNetwork, false), Read(flow_.OnManifestResult(ERR_HTTP, 404)).at(1));
    flow_.OnDownloadProgress(1000, 0);  // a report re-arms, even without new bytes
    EXPECT_EQ(Notice(NoticeKind::kNetwork), Read(flow_.OnDownloadResult(ERR_HTTP, 500, L"")).at(1));
    flow_.OnManifestResult(0, 0);  // so does a manifest
    EXPECT_EQ(Notice(NoticeKind::kNetwork), Read(flow_.OnManifestResult(ERR_HTTP, 500)).at(1));
    // A refused directory says why (always) and is not tried again.
    EXPECT_EQ((Lines{L"stop-retry", L"notice+ why"}), Read(flow_.OnDownloadResult(ERR_USER, UM_ERR_DIR_LINK, L"why")));
    // Nor is a missing staging folder, and there is no module to retry with.
    InstallFlow other(machine_, 1);
    other.OnInstallClick(true);
    EXPECT_EQ((Lines{L"stop-retry", std::wstring(L"notice+ ") + PackageDirRefusalText(UM_ERR_STAGING)}),
              Read(other.OnStaged(L"")));
    EXPECT_EQ(Lines{L"stop-retry"}, Read(other.OnRetryTimer()));
}

TEST_F(Flow, WaitsGrowUntilNewBytesComeAndAPackageFailingItsCheckCountsApart)
{
    Download();
    for (unsigned want : {5000u, 5000u, 5000u, 10000u, 20000u, 40000u}) {
        const unsigned got = FailedWait(ERR_HTTP, 500);
        EXPECT_LE(got, want);
        EXPECT_GE(got, want - (want > 5000 ? want / 10 : 0));
    }
    flow_.OnDownloadProgress(1000, 100);
    EXPECT_EQ(5000u, FailedWait(ERR_CURL, 28)) << "new bytes reset the count";
    flow_.OnDownloadProgress(1000, 100);  // bytes seen before are no progress
    FailedWait(ERR_CURL, 28);
    EXPECT_EQ(2, flow_.ConsecutiveFailures());

    // The same wrong bytes come again in full, with reports on the way: the
    // check's own count goes on.
    for (unsigned want : {10000u, 20000u, 40000u}) {
        flow_.OnDownloadProgress(1000, 200 + want / 1000);
        const unsigned got = FailedWait(ERR_USER, UM_ERR_PACKAGE_CHECK);
        EXPECT_LE(got, want);
        EXPECT_GE(got, want - want / 10);
    }
    // The retry timer tries the stage that failed last.
    FailedWait(ERR_HTTP, 404, true);
    EXPECT_EQ((Lines{L"stop-retry", L"retry-manifest"}), Read(flow_.OnRetryTimer()));
    FailedWait(ERR_HTTP, 404);
    EXPECT_EQ((Lines{L"stop-retry", L"resume"}), Read(flow_.OnRetryTimer()));
    // A package in place ends both counts (a later check failure starts over).
    flow_.OnDownloadResult(0, 0, L"");
    EXPECT_EQ(0, flow_.ConsecutiveFailures());
    EXPECT_GE(FailedWait(ERR_USER, UM_ERR_PACKAGE_CHECK), 9000u);
}

TEST_F(Flow, ALocalFailureIsFullOrUnwritableByTheFreeSpaceOfThePackageFolder)
{
    Download();
    struct Case {
        uint64_t remaining;  // by the last report; 0: none came, the 120 MB count
        uint64_t free;
        NoticeKind kind;
    } cases[] = {{0, kNeed - 1, NoticeKind::kDiskFull}, {0, kNeed, NoticeKind::kDiskUnwritable},
                 {1000, 999, NoticeKind::kDiskFull}, {1000, 1000, NoticeKind::kDiskUnwritable}};
    for (const Case& c : cases) {
        flow_.OnManifestResult(0, 0);  // each one the first failure since progress
        if (c.remaining)
            flow_.OnDownloadProgress(c.remaining, 0);
        machine_.freeBytes = c.free;
        EXPECT_EQ(Notice(c.kind), Read(flow_.OnDownloadResult(ERR_CURL, 23, L"")).at(1)) << c.free;
        EXPECT_EQ(kStaging, machine_.asked.back());
    }
}

TEST_F(Flow, TheInstallationPhaseRunsThePackageAndHandsOverAfterTenSeconds)
{
    EXPECT_TRUE(flow_.OnInstallTick().empty()) << "a tick outside the phase does nothing";
    InstallFlow::Start start;
    start.launchNumber = 5;
    flow_.OnOpened(start);
    Download();
    EXPECT_EQ((Lines{L"stop-retry", L"percent 安装中\n90%", L"bar 900", L"install-timer 100"}),
              Read(flow_.OnDownloadResult(0, 0, L"")));
    // The package runs at the first tick and is let go once its process exists.
    EXPECT_EQ(Lines{L"run-package D:\\default"}, Read(flow_.OnInstallTick()));
    EXPECT_EQ((Lines{L"release", L"percent 安装中\n90%", L"bar 900"}),
              Read(flow_.OnPackageStarted(InstallFlow::PackageStart::kStarted)));
    Lines last;
    for (int tick = 2; tick <= 100; ++tick) {
        last = Read(flow_.OnInstallTick());
        if (tick == 10) {
            EXPECT_EQ((Lines{L"percent 安装中\n91%", L"bar 910"}), last);
        }
    }
    EXPECT_EQ((Lines{L"percent 安装中\n100%", L"bar 1000"}), last);
    EXPECT_EQ((Lines{L"stop-install-timer", L"hand-off 5 D:\\default"}), Read(flow_.OnInstallTick()));
    // While the hand-off waits for the package, closing is not leaving.
    EXPECT_EQ(Lines{Notice(NoticeKind::kInstalling)}, Read(flow_.OnCloseButton()));
    EXPECT_EQ((Lines{Notice(NoticeKind::kInstalling), L"keep-open"}), Read(flow_.OnCloseMessage()));
    EXPECT_EQ(Lines{L"end 0"}, Read(flow_.OnHandedOver(true)));
    EXPECT_FALSE(flow_.Installing());
}

TEST_F(Flow, APackageOrLauncherThatCannotStartEndsTheRunSayingWhich)
{
    struct Case {
        const char* what;
        std::function<FlowActions(InstallFlow&)> step;
        Lines lines;
    } cases[] = {
        {"no package held", [](InstallFlow& f) { return f.OnPackageStarted(InstallFlow::PackageStart::kNoneHeld); },
         Failed(NoticeKind::kPackageStart, InstallFlow::kExitPackageNotStarted)},
        {"package not started", [](InstallFlow& f) { return f.OnPackageStarted(InstallFlow::PackageStart::kFailed); },
         Failed(NoticeKind::kPackageStart, InstallFlow::kExitPackageNotStarted)},
        {"launcher not started", [](InstallFlow& f) { return f.OnHandedOver(false); },
         Failed(NoticeKind::kLauncherStart, InstallFlow::kExitLauncherNotStarted)},
    };
    cases[1].lines.insert(cases[1].lines.begin(), L"release");  // it was held until the attempt
    for (const Case& c : cases) {
        Machine machine;
        InstallFlow flow(machine, 1);
        flow.OnInstallClick(true);
        flow.OnStaged(kStaging);
        flow.OnDownloadResult(0, 0, L"");
        flow.OnInstallTick();
        EXPECT_EQ(c.lines, Read(c.step(flow))) << c.what;
        EXPECT_EQ(Lines{L"ask-exit"}, Read(flow.OnCloseButton())) << "no longer installing";
    }
}

TEST_F(Flow, CloseAsksOnceAndTheSystemsCloseAnswersTheOpenBox)
{
    EXPECT_EQ(Lines{L"ask-exit"}, Read(flow_.OnCloseButton()));
    EXPECT_TRUE(flow_.OnCloseButton().empty()) << "one exit box at a time";
    EXPECT_EQ((Lines{L"confirm-exit", L"keep-open"}), Read(flow_.OnCloseMessage()));
    EXPECT_EQ(Lines{L"end 0"}, Read(flow_.OnExitAnswered(true)));
    EXPECT_EQ(Lines{L"ask-exit"}, Read(flow_.OnCloseButton()));
    EXPECT_TRUE(flow_.OnExitAnswered(false).empty());
    EXPECT_TRUE(flow_.OnCloseMessage().empty());
    Download();
    EXPECT_EQ(Lines{L"stop-updater"}, Read(flow_.OnCloseMessage()));
}

TEST_F(Flow, AtStartAnInstalledLauncherRunsAndAShippedPackageNeedsNoNetwork)
{
    InstallFlow::Start start;
    start.launchNumber = 3;
    start.launcherPath = L"D:\\c\\OrvelLauncher.exe";
    start.shippedPackage = L"E:\\ovinstaller.exe";
    EXPECT_EQ((Lines{L"launcher D:\\c\\OrvelLauncher.exe D:\\c\\OrvelLauncher.exe -i \"3\" -d"}),
              Read(flow_.OnOpened(start)));
    InstallFlow started(machine_, 1);
    EXPECT_EQ(Lines{L"end 0"}, Read(started.OnLauncherStarted(true)));
    // Not started: the notice follows the first paint, once; the window offers installing again.
    EXPECT_TRUE(flow_.OnLauncherStarted(false).empty());
    EXPECT_EQ(Lines{Notice(NoticeKind::kLauncherStart)}, Read(flow_.OnAfterFirstPaint()));
    EXPECT_TRUE(flow_.OnAfterFirstPaint().empty());

    flow_.OnInstallClick(true);
    EXPECT_EQ(Lines{L"stage-shipped E:\\ovinstaller.exe C:\\staging\\ovinstaller.exe"},
              Read(flow_.OnStaged(kStaging)));
    EXPECT_EQ(L"install-timer 100", Read(flow_.OnShippedStaged(true)).back());
    // One that fails its check is fetched as if nothing were shipped.
    InstallFlow refused(machine_, 1);
    refused.OnOpened(start);
    refused.OnInstallClick(true);
    refused.OnStaged(kStaging);
    EXPECT_EQ(Lines{L"updater C:\\staging"}, Read(refused.OnShippedStaged(false)));
    EXPECT_EQ(Lines{L"licence"}, Read(refused.OnLicenceClick()));
    EXPECT_EQ(Lines{Notice(NoticeKind::kLicencePage)}, Read(refused.OnLicenceOpened(false)));
}

}  // namespace
