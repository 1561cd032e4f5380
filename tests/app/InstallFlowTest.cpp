// The install window driven through its real click handlers (mouse messages
// to its controls), with the real update module, engine and fault server:
// which page a click leads to, the free-space gate, what a failure notice
// says and how many are open, the retry waits, the manifest retry, and the
// end of the run when the package or the launcher cannot start. The window's
// seams only point the module at the test server, say how much space is
// free, and run the retry waits a hundred times faster (after recording them).

#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Runtime/TextUtil.h"
#include "Updater/UpdaterTestSupport.h"
#include "app/AppState.h"
#include "app/CommonUtils.h"
#include "app/FailureNotice.h"
#include "app/MainDlg.h"
#include "app/MsgBoxDlg.h"
#include "ui/Control.h"
#include "ui/Option.h"
#include "ui/SkinResources.h"
#include "ui/TabLayout.h"

namespace {

using testsupport::PathExists;
using testsupport::ReadBytes;

const wchar_t kNoticeCaption[] = L"澄岳提示";
const uint64_t kNeed = CMainDlg::kRequiredFreeBytes;

int CountNotices()
{
    int n = 0;
    for (HWND w = FindWindowW(nullptr, kNoticeCaption); w; w = FindWindowExW(nullptr, w, nullptr, kNoticeCaption))
        n += IsWindowVisible(w) ? 1 : 0;
    return n;
}

std::string StandinBytes(const wchar_t* name)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    dir = dir.substr(0, dir.find_last_of(L'\\'));  // ...\tests
    return ReadBytes(dir.substr(0, dir.find_last_of(L'\\')) + L"\\standins\\" + name);
}

class FlowWindow : public CMainDlg {
public:
    std::vector<std::wstring> endpoints;
    updatertest::FixtureChannels channels;  // the engine fixture's
    bool freeKnown = true;
    uint64_t freeBytes = 1ull << 40;
    std::vector<std::wstring> freeAsked;
    std::vector<UINT> delays;
    // After each failed stage: the notices open and the open notice's text.
    std::vector<int> noticesOpen;
    std::vector<std::wstring> noticeTexts;
    int downloadsDone = 0;

    std::wstring stagingDir;  // the staging folder the window gets
    void UsePackageDir(const std::wstring& dir) { stagingDir = dir; }

    void OnDownloadResult(int errType, int code, const std::wstring& message) override
    {
        ++downloadsDone;
        CMainDlg::OnDownloadResult(errType, code, message);
        if (errType != 0)
            Record();
    }
    void OnManifestResult(int errType, int code, const std::wstring& text) override
    {
        CMainDlg::OnManifestResult(errType, code, text);
        if (errType != 0)
            Record();
    }

protected:
    bool PrepareStaging(std::wstring* dir) override { return !(*dir = stagingDir).empty(); }
    UpdateModule* CreateUpdater(const std::wstring& packageDir) override
    {
        return new UpdateModule(channels, this, UpdateConfig{packageDir, endpoints});
    }
    bool QueryFreeBytes(const std::wstring& path, uint64_t* bytes) override
    {
        freeAsked.push_back(path);
        *bytes = freeBytes;
        return freeKnown;
    }
    void ArmRetryTimer(UINT delayMs) override
    {
        delays.push_back(delayMs);
        CMainDlg::ArmRetryTimer(delayMs / 100);
    }

private:
    void Record()
    {
        noticesOpen.push_back(CountNotices());
        noticeTexts.push_back(FailureNotice() ? FailureNotice()->Message() : std::wstring());
    }
};

// A modal box seen by the answerer.
struct ModalSeen {
    std::wstring caption;
    std::wstring message;
    std::wstring percentLabel;  // the main window's label meanwhile
};

class InstallFlow : public updatertest::UpdaterTest {
protected:
    void SetUp() override
    {
        UpdaterTest::SetUp();
        CSkinResources::SetInstance(GetModuleHandleW(nullptr));
        current_ = this;
        answerer_ = SetTimer(nullptr, 0, 50, &InstallFlow::AnswerModalBoxes);
        NewWindow();
    }

    void TearDown() override
    {
        CloseWindow();
        // A window's first paint began the application's deferred start-up
        // (its HTTP channels among it); later cases expect a process where
        // that has not happened.
        CAppState::Instance().Stop();
        KillTimer(nullptr, answerer_);
        current_ = nullptr;
        UpdaterTest::TearDown();
    }

    void NewWindow(FlowWindow* window = nullptr)
    {
        CloseWindow();
        win_.reset(window ? window : new FlowWindow);
        ASSERT_NE(nullptr, win_->Create(nullptr, L"安装澄岳", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, 0));
        win_->UsePackageDir(pkg_.Path());
        win_->ShowWindow(true, false);
        testsupport::PumpMessagesFor(100);
    }

    void CloseWindow()
    {
        if (!win_)
            return;
        if (IsWindow(win_->GetHWND()))
            DestroyWindow(win_->GetHWND());
        TakeQuit();
        for (HWND box; (box = FindWindowW(nullptr, kNoticeCaption)) != nullptr;)
            DestroyWindow(box);
        win_.reset();
    }

    // Drops the quit message a closed window posted.
    void TakeQuit()
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }

    // Runs the message loop until the window ends the run; the exit code it
    // posted with the quit message, or -1 when none came within `ms`.
    int RunUntilQuit(DWORD ms)
    {
        const ULONGLONG deadline = GetTickCount64() + ms;
        while (GetTickCount64() < deadline) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT)
                    return static_cast<int>(msg.wParam);
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        return -1;
    }

    HWND Hwnd() const { return win_->GetHWND(); }
    CControlUI* Find(const wchar_t* name) { return win_->PaintHost().FindByName(name); }
    int Page() { return dynamic_cast<CTabLayoutUI*>(Find(L"tb_main"))->GetCurSel(); }
    std::wstring Percent() { return Find(L"lb_InstallPercent")->GetText(); }

    // A mouse click in the middle of the control, as the user would make it.
    void Click(const wchar_t* name)
    {
        CControlUI* c = Find(name);
        ASSERT_NE(nullptr, c) << ToNarrow(name);
        const RECT& r = c->GetPosition();
        const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SendMessageW(Hwnd(), WM_MOUSEMOVE, 0, at);
        SendMessageW(Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(Hwnd(), WM_LBUTTONUP, 0, at);
    }

    // Types `text` into the directory field's native edit window.
    void TypeDirectory(const std::wstring& text)
    {
        Click(L"edit_input");
        HWND edit = FindWindowExW(Hwnd(), nullptr, L"EditWnd", nullptr);
        ASSERT_NE(nullptr, edit) << "the edit field has no native window";
        SetWindowTextW(edit, text.c_str());
    }

    // Manifest naming a package at `packageUrl` with `bytes`' size and MD5.
    std::wstring Manifest(const std::string& name, const std::string& packageUrl, const std::string& bytes)
    {
        return ManifestEndpoint(name, ManifestBody(packageUrl, std::to_string(bytes.size()), Narrow(Md5Of(bytes)), "1"));
    }

    bool Until(const std::function<bool()>& done, DWORD ms = 15000) { return WaitFor(done, ms); }
    bool Installing() { return Percent() == L"安装中\n90%"; }

    // Closes every modal message box with Escape, as a user would, and
    // remembers what it said. Modeless notices are left alone (Escape would
    // not act on them anyway): a box is modal while its owner is disabled.
    static void CALLBACK AnswerModalBoxes(HWND, UINT, UINT_PTR, DWORD)
    {
        InstallFlow* self = current_;
        if (!self || !self->win_ || !IsWindow(self->win_->GetHWND()) || IsWindowEnabled(self->win_->GetHWND()))
            return;
        EnumThreadWindows(GetCurrentThreadId(), &InstallFlow::AnswerOne, reinterpret_cast<LPARAM>(self));
    }
    static BOOL CALLBACK AnswerOne(HWND hwnd, LPARAM param)
    {
        InstallFlow* self = reinterpret_cast<InstallFlow*>(param);
        wchar_t cls[32] = {};
        GetClassNameW(hwnd, cls, 32);
        if (wcscmp(cls, L"orvelim") != 0 || !IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd) ||
            self->answered_.count(hwnd))
            return TRUE;
        CMsgBoxDlg* box = dynamic_cast<CMsgBoxDlg*>(reinterpret_cast<CWindowWnd*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)));
        if (!box)
            return TRUE;
        wchar_t caption[64] = {};
        GetWindowTextW(hwnd, caption, 64);
        self->modals_.push_back({caption, box->Message(), self->Percent()});
        self->answered_.insert(hwnd);
        PostMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
        return TRUE;
    }

    static InstallFlow* current_;
    UINT_PTR answerer_ = 0;
    std::set<HWND> answered_;
    std::vector<ModalSeen> modals_;
    testsupport::TempDir pkg_;
    std::unique_ptr<FlowWindow> win_;
};

InstallFlow* InstallFlow::current_ = nullptr;

// --- pages and the free-space gate ---------------------------------------------------

TEST_F(InstallFlow, WithoutTheAgreementNeitherClickLeavesTheStartPage)
{
    win_->endpoints = {StatusEndpoint("m", 404)};
    Click(L"opt_agree");  // clears what the skin selected
    ASSERT_FALSE(dynamic_cast<COptionUI*>(Find(L"opt_agree"))->IsSelected());
    Click(L"btn_free");
    Click(L"btn_install");
    ASSERT_EQ(2u, modals_.size());
    for (const ModalSeen& m : modals_) {
        EXPECT_EQ(L"提示", m.caption);
        EXPECT_EQ(L"未勾选“同意软件许可协议”", m.message);
    }
    EXPECT_EQ(0, Page());
    testsupport::PumpMessagesFor(300);
    EXPECT_TRUE(server_->Requests(Path()).empty()) << "nothing is fetched";
}

TEST_F(InstallFlow, InstallNowReachesTheProgressPageAndAsksForTheManifest)
{
    win_->endpoints = {StatusEndpoint("m", 404)};
    Click(L"btn_install");
    EXPECT_TRUE(modals_.empty());
    EXPECT_EQ(2, Page());
    EXPECT_FALSE(win_->InstallDir().empty()) << "the default directory is proposed";
    EXPECT_TRUE(Until([&] { return !server_->Requests(Path("m/")).empty(); }));
}

TEST_F(InstallFlow, TheDirectoryPageGatesOnTheFreeSpaceOfTheTypedDrive)
{
    win_->endpoints = {StatusEndpoint("m", 404)};
    Click(L"btn_free");
    ASSERT_EQ(1, Page());
    EXPECT_EQ(win_->InstallDir(), Find(L"edit_input")->GetText());

    struct Case {
        uint64_t free;
        const wchar_t* label;
        bool enabled;
    } cases[] = {{kNeed - 1, L"119MB", false}, {kNeed, L"120MB", true}, {kNeed + 1, L"120MB", true}};
    for (const Case& c : cases) {
        win_->freeBytes = c.free;
        TypeDirectory(L"X:\\games\\澄岳");
        ASSERT_FALSE(win_->freeAsked.empty());
        EXPECT_EQ(L"X:", win_->freeAsked.back());
        EXPECT_EQ(c.label, Find(L"lb_leftspace")->GetText()) << c.free;
        EXPECT_EQ(c.enabled, Find(L"btn_install2")->IsEnabled()) << c.free;
        EXPECT_EQ(c.enabled, Find(L"lb_leftspace")->IsEnabled()) << c.free;
    }

    win_->freeBytes = kNeed - 1;
    TypeDirectory(L"X:\\small");
    Click(L"btn_install2");
    testsupport::PumpMessagesFor(300);
    EXPECT_EQ(1, Page()) << "a disabled button does not install";
    EXPECT_TRUE(server_->Requests(Path()).empty());

    win_->freeBytes = kNeed;
    TypeDirectory(L"X:\\games\\澄岳");
    Click(L"btn_install2");
    EXPECT_EQ(2, Page());
    EXPECT_EQ(L"X:\\games\\澄岳", win_->InstallDir());
    EXPECT_TRUE(Until([&] { return !server_->Requests(Path("m/")).empty(); }));
}

// --- failures: one notice, its text, the waits, the retries ------------------------------

TEST_F(InstallFlow, DroppedConnectionsLeaveOneNoticeAndEachDropRetriesAfterFiveSeconds)
{
    const std::string bytes = httptest::ExpectedContent(300000, 31);
    // The engine retries a dropped transfer itself; the window sees a failure
    // when its retries are used up too.
    const std::string url = PackageUrl("pkg", bytes.size(), 31, "&mode=drop&after=20000&after_max=80000&times=9");
    win_->endpoints = {Manifest("m", url, bytes)};
    Click(L"btn_install");
    ASSERT_TRUE(Until([&] { return Installing(); }, 30000));

    ASSERT_GE(win_->noticesOpen.size(), 2u);
    for (int open : win_->noticesOpen)
        EXPECT_EQ(1, open) << "one notice at a time";
    for (const std::wstring& text : win_->noticeTexts)
        EXPECT_EQ(NoticeText(NoticeKind::kNetwork), text);
    // Every attempt brought new bytes, so no wait grew.
    for (UINT d : win_->delays)
        EXPECT_EQ(5000u, d);
}

TEST_F(InstallFlow, WaitsGrowWhileTheServerStaysDownAndTheNoticeIsNotRepeated)
{
    const std::string bytes = httptest::ExpectedContent(5000, 32);
    const std::string url = PackageUrl("pkg", bytes.size(), 32, "&mode=status&code=500&times=6");
    win_->endpoints = {Manifest("m", url, bytes)};
    Click(L"btn_install");
    ASSERT_TRUE(Until([&] { return Installing(); }, 30000));

    const UINT expected[] = {5000, 5000, 5000, 10000, 20000, 40000};
    ASSERT_EQ(6u, win_->delays.size());
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_LE(win_->delays[i], expected[i]) << i;
        EXPECT_GE(win_->delays[i], expected[i] - (expected[i] > 5000 ? expected[i] / 10 : 0)) << i;
    }
    for (int open : win_->noticesOpen)
        EXPECT_EQ(1, open);
}

TEST_F(InstallFlow, EachFailureSaysWhatFailed)
{
    const std::string bytes = httptest::ExpectedContent(4000, 33);
    std::string wrong = bytes;
    wrong[100] ^= 0x5A;
    struct Case {
        const char* name;
        std::string packageUrl;
        bool blockFile;  // a directory stands where the download file must go
        uint64_t freeBytes;
        NoticeKind kind;
    } cases[] = {
        {"server-error", PackageUrl("p1", bytes.size(), 33, "&mode=status&code=404"), false, 1ull << 40,
         NoticeKind::kNetwork},
        {"check", StoredUrl("p2", wrong), false, 1ull << 40, NoticeKind::kPackageCheck},
        {"unwritable", PackageUrl("p3", bytes.size(), 33), true, 1ull << 40, NoticeKind::kDiskUnwritable},
        {"full", PackageUrl("p4", bytes.size(), 33), true, 1000, NoticeKind::kDiskFull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir dir;
        if (c.blockFile) {
            ASSERT_TRUE(CreateDirectoryW((dir / L"ovinstaller.exe.yw").c_str(), nullptr));
        }
        NewWindow();
        win_->UsePackageDir(dir.Path());
        win_->freeBytes = c.freeBytes;
        win_->endpoints = {Manifest(c.name, c.packageUrl, bytes)};
        Click(L"btn_install");
        ASSERT_TRUE(Until([&] { return !win_->noticeTexts.empty(); }));
        EXPECT_EQ(NoticeText(c.kind), win_->noticeTexts[0]);
        EXPECT_EQ(1, win_->noticesOpen[0]);
        if (c.kind == NoticeKind::kPackageCheck) {
            EXPECT_GE(win_->delays[0], 9000u) << "the same bytes would come again: wait longer at once";
        } else {
            EXPECT_EQ(5000u, win_->delays[0]);
        }
        CloseWindow();
    }
}

TEST_F(InstallFlow, APackageThatKeepsFailingItsCheckWaitsLongerEachTimeHoweverItCame)
{
    // The same wrong bytes every time: first at once (no progress report on
    // the way), then slowly (reports on the way). Neither is progress.
    const std::string bytes = httptest::ExpectedContent(60000, 36);
    std::string wrong = bytes;
    wrong[10] ^= 0x01;
    const std::string key = Key("wrong");
    ASSERT_TRUE(Post("/_put?name=" + key, wrong));
    const std::string path = Path("pkg");
    ASSERT_TRUE(Route(path, "blob=" + key));
    win_->endpoints = {Manifest("m", server_->NarrowUrl(path), bytes)};
    Click(L"btn_install");
    ASSERT_TRUE(Until([&] { return !win_->delays.empty(); }));
    ASSERT_TRUE(Route(path, "blob=" + key + "&mode=trickle&chunk=6000&delay=100"));
    ASSERT_TRUE(Until([&] { return win_->delays.size() >= 3; }, 30000));

    const UINT expected[] = {10000, 20000, 40000};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_LE(win_->delays[i], expected[i]) << i;
        EXPECT_GE(win_->delays[i], expected[i] - expected[i] / 10) << i;
        EXPECT_EQ(NoticeText(NoticeKind::kPackageCheck), win_->noticeTexts[i]);
    }
}

TEST_F(InstallFlow, AManifestThatFailsIsFetchedAgainUntilItComes)
{
    const std::string bytes = httptest::ExpectedContent(3000, 34);
    const std::string body = ManifestBody(PackageUrl("pkg", bytes.size(), 34), std::to_string(bytes.size()),
                                          Narrow(Md5Of(bytes)), "1");
    win_->endpoints = {HealingEndpoint("m", 503, 4, body)};
    Click(L"btn_install");
    ASSERT_TRUE(Until([&] { return Installing(); }, 30000));
    EXPECT_EQ(5u, server_->Requests(Path("m/")).size());
    ASSERT_EQ(4u, win_->delays.size());
    EXPECT_LE(win_->delays[3], 10000u);
    EXPECT_GE(win_->delays[3], 9000u);
    ASSERT_EQ(4u, win_->noticesOpen.size());
    for (int open : win_->noticesOpen)
        EXPECT_EQ(1, open);
}

TEST_F(InstallFlow, AHelperWindowThatCannotBeMadeIsToldAndTriedAgain)
{
    const std::string bytes = httptest::ExpectedContent(3000, 35);
    const std::wstring endpoint = Manifest("m", PackageUrl("pkg", bytes.size(), 35), bytes);
    ASSERT_TRUE(BlockNextHelperClass());
    win_->endpoints = {endpoint};
    Click(L"btn_install");
    ReleaseNextHelperClass();
    ASSERT_FALSE(win_->noticeTexts.empty());
    EXPECT_EQ(NoticeText(NoticeKind::kSystem), win_->noticeTexts[0]);
    EXPECT_TRUE(Until([&] { return Installing(); }));
}

// --- what may run, and with which directory ------------------------------------------

TEST_F(InstallFlow, ADirectoryThatWouldChangeThePackagesCommandLineIsRefusedOnItsPage)
{
    win_->endpoints = {StatusEndpoint("m", 404)};
    Click(L"btn_free");
    TypeDirectory(L"X:\\games /launch=on /S");
    Click(L"btn_install2");
    ASSERT_EQ(1u, modals_.size());
    EXPECT_EQ(L"安装目录无效，请重新选择！", modals_[0].message);
    EXPECT_EQ(1, Page()) << "the user chooses again";
    testsupport::PumpMessagesFor(300);
    EXPECT_TRUE(server_->Requests(Path()).empty());
}

TEST_F(InstallFlow, NoPackageRunsWithoutOneCheckedAndHeld)
{
    // A program under the package's name that nothing checked: neither a
    // timer message posted to the window nor the install phase starts it.
    testsupport::TempDir target;
    ASSERT_TRUE(testsupport::WriteBytes(pkg_ / L"ovinstaller.exe", StandinBytes(L"ovinstaller.exe")));
    Click(L"btn_free");
    TypeDirectory(target / L"澄岳");
    PostMessageW(Hwnd(), WM_TIMER, CMainDlg::kInstallTimer, 0);
    testsupport::PumpMessagesFor(300);
    EXPECT_EQ(0, win_->InstallTicks());
    win_->OnDownloadResult(0, 0, L"");
    EXPECT_EQ(CMainDlg::kExitPackageNotStarted, RunUntilQuit(15000));
    EXPECT_FALSE(PathExists(target / L"澄岳\\installer.txt")) << "an unchecked package ran";
}

// --- the end of the run ------------------------------------------------------------

TEST_F(InstallFlow, APackageThatCannotStartIsNamedAndEndsTheRunWithExitCodeTwo)
{
    // The right bytes by the manifest, but no program.
    const std::string bytes(5000, 'x');
    win_->endpoints = {Manifest("m", StoredUrl("pkg", bytes), bytes)};
    Click(L"btn_install");
    EXPECT_EQ(CMainDlg::kExitPackageNotStarted, RunUntilQuit(15000));
    EXPECT_FALSE(IsWindow(Hwnd()));
    ASSERT_EQ(1u, modals_.size());
    EXPECT_EQ(kNoticeCaption, modals_[0].caption);
    EXPECT_EQ(NoticeText(NoticeKind::kPackageStart), modals_[0].message);
    EXPECT_EQ(L"安装失败", modals_[0].percentLabel) << "no pretended progress";
}

TEST_F(InstallFlow, ALauncherThatCannotStartIsNamedAndEndsTheRunWithExitCodeThree)
{
    // A package that runs and ends well, but leaves no launcher behind.
    const std::string bytes = StandinBytes(L"OrvelLauncher.exe");
    ASSERT_FALSE(bytes.empty());
    testsupport::TempDir target;
    win_->endpoints = {Manifest("m", StoredUrl("pkg", bytes), bytes)};
    Click(L"btn_free");
    TypeDirectory(target / L"澄岳");
    Click(L"btn_install2");
    EXPECT_EQ(CMainDlg::kExitLauncherNotStarted, RunUntilQuit(30000));
    ASSERT_EQ(1u, modals_.size());
    EXPECT_EQ(NoticeText(NoticeKind::kLauncherStart), modals_[0].message);
    EXPECT_EQ(L"安装失败", modals_[0].percentLabel) << "not 100 %: the client cannot run";
}

// While the package runs (after the ten-second phase), the window keeps
// painting and answering: repaints asked for are made, and a close request
// gets a notice instead of a half-installed exit.
class WaitProbe : public FlowWindow {
public:
    std::wstring installDir;
    int paintsWhileWaiting = 0;
    bool Waiting() const
    {
        return InstallTicks() > 100 && !installDir.empty() && !PathExists(installDir + L"\\installer.txt");
    }
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_PAINT && Waiting())
            ++paintsWhileWaiting;
        return FlowWindow::HandleMessage(msg, wParam, lParam);
    }
};

struct WaitObservations {
    WaitProbe* window = nullptr;
    int ticksWhileWaiting = 0;
    bool closeAsked = false;
    bool aliveAfterClose = false;
    std::wstring noticeAfterClose;
};
WaitObservations* g_wait = nullptr;

void CALLBACK PokeWhileWaiting(HWND, UINT, UINT_PTR, DWORD)
{
    WaitObservations& o = *g_wait;
    if (!o.window || !IsWindow(o.window->GetHWND()) || !o.window->Waiting())
        return;
    const HWND hwnd = o.window->GetHWND();
    ++o.ticksWhileWaiting;
    InvalidateRect(hwnd, nullptr, FALSE);
    if (o.ticksWhileWaiting == 3) {
        o.closeAsked = true;
        SendMessageW(hwnd, WM_CLOSE, 0, 0);
        CControlUI* close = o.window->PaintHost().FindByName(L"btn_close");
        const RECT& r = close->GetPosition();
        const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(hwnd, WM_LBUTTONUP, 0, at);
    } else if (o.ticksWhileWaiting == 4) {
        o.aliveAfterClose = IsWindow(hwnd) != FALSE;
        o.noticeAfterClose = o.window->FailureNotice() ? o.window->FailureNotice()->Message() : L"";
    }
}

TEST_F(InstallFlow, WhileThePackageRunsTheWindowPaintsAndCloseRequestsGetANotice)
{
    const std::string bytes = StandinBytes(L"ovinstaller.exe");
    ASSERT_FALSE(bytes.empty());
    testsupport::TempDir target;
    WaitProbe* probe = new WaitProbe;
    NewWindow(probe);
    win_->endpoints = {Manifest("m", StoredUrl("pkg", bytes), bytes)};
    probe->installDir = target / L"澄岳";

    // The package takes two seconds past the ten-second phase.
    ASSERT_TRUE(SetEnvironmentVariableW(L"OV_STANDIN_INSTALL_MS", L"12000"));
    WaitObservations seen;
    seen.window = probe;
    g_wait = &seen;
    const UINT_PTR poke = SetTimer(nullptr, 0, 100, &PokeWhileWaiting);
    Click(L"btn_free");
    TypeDirectory(probe->installDir);
    Click(L"btn_install2");
    const int exitCode = RunUntilQuit(40000);
    KillTimer(nullptr, poke);
    g_wait = nullptr;
    SetEnvironmentVariableW(L"OV_STANDIN_INSTALL_MS", nullptr);
    EXPECT_EQ(CMainDlg::kExitOk, exitCode);

    EXPECT_GE(seen.ticksWhileWaiting, 5) << "timers ran during the wait";
    EXPECT_GE(probe->paintsWhileWaiting, 3) << "the window painted during the wait";
    ASSERT_TRUE(seen.closeAsked);
    EXPECT_TRUE(seen.aliveAfterClose) << "a close request did not end the run";
    EXPECT_EQ(NoticeText(NoticeKind::kInstalling), seen.noticeAfterClose);
    EXPECT_TRUE(modals_.empty());
    EXPECT_TRUE(PathExists(probe->installDir + L"\\installer.txt"));
    EXPECT_TRUE(Until([&] { return PathExists(probe->installDir + L"\\launched.txt"); }, 10000))
        << "handed over to the launcher";
}

}  // namespace
