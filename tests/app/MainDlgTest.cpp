// The install window's wiring, through the one window driver: real clicks
// reach the flow, pages, texts and the bar's value are shown, a notice box
// opens once, a failed stage is tried again through the real update module,
// a package or launcher that cannot start ends the run; and the skin's keys
// and labels. What the flow decides is tested without a window
// (InstallFlowTest).

#include <gtest/gtest.h>
#include <winsock2.h>  // before windows.h, as the HTTP headers need
#include <windows.h>

#include "Runtime/TextUtil.h"
#include "app/CommonUtils.h"
#include "app/FailureNotice.h"
#include "app/MsgBoxDlg.h"
#include "app/WindowDriver.h"
#include "ui/Control.h"
#include "ui/HtmlText.h"
#include "ui/Label.h"
#include "ui/Option.h"
#include "ui/Progress.h"
#include "ui/TabLayout.h"

namespace {

using MainWindow = WindowDriver;
const uint64_t kNeed = InstallFlow::kRequiredFreeBytes;

}  // namespace

TEST_F(MainWindow, ClicksReachTheFlowAndItsPagesTextsAndBarAreShown)
{
    win_->endpoints = {StatusEndpoint("m", 404)};
    Click(L"opt_agree");  // clears what the skin selected
    Click(L"btn_free");
    ASSERT_EQ(1u, modals_.size());
    EXPECT_EQ(L"提示", modals_[0].caption);
    EXPECT_EQ(L"未勾选“同意软件许可协议”", modals_[0].message);
    EXPECT_EQ(0, Page());
    Click(L"opt_agree");
    Click(L"btn_free");
    ASSERT_EQ(1, Page());
    EXPECT_EQ(win_->InstallDir(), Find(L"edit_input")->GetText());
    win_->freeBytes = kNeed - 1;
    TypeDirectory(L"X:\\small");
    EXPECT_EQ(L"119MB", Find(L"lb_leftspace")->GetText());
    EXPECT_FALSE(Find(L"btn_install2")->IsEnabled());
    win_->freeBytes = kNeed;
    TypeDirectory(L"X:\\games\\澄岳");
    EXPECT_TRUE(Find(L"lb_leftspace")->IsEnabled());
    Click(L"btn_install2");
    EXPECT_EQ(2, Page());
    EXPECT_EQ(L"X:\\games\\澄岳", win_->InstallDir());
    EXPECT_TRUE(WaitFor([&] { return !server_->Requests(Path("m/")).empty(); }));

    CProgressUI* bar = dynamic_cast<CProgressUI*>(Find(L"pro_InstallProgress"));
    ASSERT_NE(nullptr, bar);
    win_->OnDownloadProgress(1000, 500, 0, 0);
    EXPECT_EQ(L"下载中\n剩500B", Percent());
    EXPECT_EQ(45, (bar->GetValue() - bar->GetMinValue()) * 100 / (bar->GetMaxValue() - bar->GetMinValue()));
}

TEST_F(MainWindow, ANoticeBoxTakesTheLatestFailureAndOnceClosedWaitsForProgress)
{
    auto shown = [&] { return win_->FailureNotice() ? win_->FailureNotice()->Message() : std::wstring(); };
    win_->OnDownloadResult(ERR_HTTP, 500, L"");
    win_->OnDownloadProgress(1000, 600, 0, 0);
    win_->OnDownloadResult(ERR_USER, UM_ERR_PACKAGE_CHECK, L"");
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(1, CountNotices());
    EXPECT_EQ(NoticeText(NoticeKind::kPackageCheck), shown());
    win_->FailureNotice()->Close(CMsgBoxDlg::kCancelled);
    testsupport::PumpMessagesFor(200);
    ASSERT_EQ(nullptr, win_->FailureNotice());
    win_->OnDownloadResult(ERR_CURL, 28, L"");
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(0, CountNotices());
    win_->OnDownloadProgress(1000, 700, 0, 0);
    win_->OnDownloadResult(ERR_CURL, 28, L"");
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(1, CountNotices());
}

TEST_F(MainWindow, AFailedStageIsTriedAgainThroughTheModuleWithOneNotice)
{
    const std::string bytes = httptest::ExpectedContent(5000, 32);
    const std::string body =
        ManifestBody(PackageUrl("p2", bytes.size(), 32), std::to_string(bytes.size()), Narrow(Md5Of(bytes)), "1");
    struct Case {
        const char* what;
        std::wstring endpoint;
        std::vector<UINT> waits;
    } cases[] = {
        {"package", Manifest("m", PackageUrl("p1", bytes.size(), 32, "&mode=status&code=500&times=6"), bytes),
         {5000, 5000, 5000, 10000, 20000, 40000}},
        {"manifest", HealingEndpoint("h", 503, 4, body), {5000, 5000, 5000, 10000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewWindow();
        win_->endpoints = {c.endpoint};
        Click(L"btn_install");
        ASSERT_TRUE(WaitFor([&] { return Installing(); }, 30000));
        ASSERT_EQ(c.waits.size(), win_->delays.size());
        for (size_t i = 0; i < c.waits.size(); ++i) {
            EXPECT_LE(win_->delays[i], c.waits[i]) << i;
            EXPECT_GE(win_->delays[i], c.waits[i] - (c.waits[i] > 5000 ? c.waits[i] / 10 : 0)) << i;
        }
        EXPECT_EQ(1, CountNotices());
    }
}

TEST_F(MainWindow, NoPackageRunsWithoutOneCheckedAndHeld)
{
    // A program under the package's name that nothing checked: neither a
    // timer message posted to the window nor the install phase starts it.
    testsupport::TempDir target;
    ASSERT_TRUE(testsupport::WriteBytes(staging_ / L"ovinstaller.exe", StandinBytes(L"ovinstaller.exe")));
    Click(L"btn_free");
    TypeDirectory(target / L"澄岳");
    PostMessageW(Hwnd(), WM_TIMER, CMainDlg::kInstallTimer, 0);
    testsupport::PumpMessagesFor(300);
    EXPECT_EQ(0, win_->Flow().InstallTicks());
    win_->OnDownloadResult(0, 0, L"");
    EXPECT_EQ(InstallFlow::kExitPackageNotStarted, RunUntilQuit(15000));
    ASSERT_EQ(1u, modals_.size());
    EXPECT_EQ(NoticeText(NoticeKind::kPackageStart), modals_[0].message);
    EXPECT_EQ(L"安装失败", modals_[0].percent) << "no pretended progress";
    EXPECT_FALSE(testsupport::PathExists(target / L"澄岳\\installer.txt")) << "an unchecked package ran";
}

TEST_F(MainWindow, ALauncherThatCannotStartIsNamedAndEndsTheRunWithExitCodeThree)
{
    // A package that runs and ends well, but leaves no launcher behind.
    const std::string bytes = StandinBytes(L"OrvelLauncher.exe");
    ASSERT_FALSE(bytes.empty());
    testsupport::TempDir target;
    win_->endpoints = {Manifest("m", StoredUrl("pkg", bytes), bytes)};
    Click(L"btn_free");
    TypeDirectory(target / L"澄岳");
    Click(L"btn_install2");
    EXPECT_EQ(InstallFlow::kExitLauncherNotStarted, RunUntilQuit(30000));
    ASSERT_EQ(1u, modals_.size());
    EXPECT_EQ(L"澄岳提示", modals_[0].caption);
    EXPECT_EQ(NoticeText(NoticeKind::kLauncherStart), modals_[0].message);
    EXPECT_EQ(L"安装失败", modals_[0].percent) << "not 100 %: the client cannot run";
}

TEST_F(MainWindow, KeysActOnTheFocusedControlOnlyAndEnterNeverOnTheAgreement)
{
    COptionUI* agree = dynamic_cast<COptionUI*>(Find(L"opt_agree"));
    ASSERT_NE(agree, nullptr);
    Click(L"opt_agree");
    ASSERT_FALSE(agree->IsSelected());
    // The click left the option focused: Enter does not toggle it, Space does
    // (as a check box), and a held Space toggles once.
    SendMessageW(Hwnd(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_FALSE(agree->IsSelected());
    SendMessageW(Hwnd(), WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(Hwnd(), WM_KEYDOWN, VK_SPACE, 0x40000000);
    EXPECT_TRUE(agree->IsSelected());
    EXPECT_EQ(0, Page());

    // In the box, after its first paint: Enter does nothing (the box then
    // ends with the result given to it), Escape confirms.
    struct Case {
        WPARAM key;
        UINT result;
    } cases[] = {{VK_RETURN, 9}, {VK_SPACE, 9}, {VK_ESCAPE, CMsgBoxDlg::kConfirmed}};
    for (const Case& c : cases) {
        CMsgBoxDlg* box = CMsgBoxDlg::Open(Hwnd(), L"是否退出安装？", L"", L"退出安装");
        ASSERT_NE(box, nullptr);
        UpdateWindow(box->GetHWND());
        PostMessageW(box->GetHWND(), WM_KEYDOWN, c.key, 0);
        if (c.key != VK_ESCAPE)
            box->Close(9);
        EXPECT_EQ(c.result, box->RunModal()) << c.key;
    }
}

TEST_F(MainWindow, EveryTextFitsItsLabelInTheSkinsFont)
{
    dynamic_cast<CTabLayoutUI*>(Find(L"tb_main"))->Select(2);
    testsupport::PumpMessagesFor(100);
    CLabelUI* label = dynamic_cast<CLabelUI*>(Find(L"lb_InstallPercent"));
    ASSERT_NE(label, nullptr);
    RECT rc = label->GetPosition();
    HDC dc = GetDC(Hwnd());  // laid out in the window's own DC (the next paint covers what is drawn)

    // Every size the label can show: up to three digits before each unit.
    std::vector<std::wstring> texts = {L"0%", L"下载中\n剩0B", L"安装失败"};
    for (int p = 90; p <= 100; ++p)
        texts.push_back(Format(L"安装中\n%d%%", p));
    const uint64_t units[] = {1, 1024, 1024 * 1024, 1024ull * 1024 * 1024};
    for (uint64_t unit : units)
        for (int d = 1; d <= 9; ++d)
            texts.push_back(L"下载中\n剩" + FormatSize(static_cast<uint64_t>(d * 111) * unit));
    texts.push_back(L"下载中\n剩" + FormatSize(125829120));  // 剩120MB
    for (const std::wstring& text : texts) {
        std::vector<HtmlLine> lines;
        RECT box = rc;
        DrawHtmlText(dc, &win_->PaintHost(), box, text.c_str(), 0xFF000000, label->GetFont(), label->GetTextStyle(),
                     &lines);
        ASSERT_EQ(text.find(L'\n') == std::wstring::npos ? 1u : 2u, lines.size()) << ToNarrow(text) << " wrapped";
        for (const HtmlLine& line : lines) {
            EXPECT_GE(line.rc.left, rc.left) << ToNarrow(text);
            EXPECT_LE(line.rc.right, rc.right) << ToNarrow(text) << " is " << line.rc.right - line.rc.left << " wide";
            EXPECT_GE(line.rc.top, rc.top) << ToNarrow(text);
            EXPECT_LE(line.rc.bottom, rc.bottom) << ToNarrow(text);
        }
    }
    ReleaseDC(Hwnd(), dc);

    // Every notice in the message box's one-line message label.
    const NoticeKind kinds[] = {NoticeKind::kNetwork,      NoticeKind::kDiskFull,     NoticeKind::kDiskUnwritable,
                                NoticeKind::kPackageCheck, NoticeKind::kSystem,       NoticeKind::kPackageStart,
                                NoticeKind::kLauncherStart, NoticeKind::kInstalling};
    for (NoticeKind kind : kinds) {
        CMsgBoxDlg* box = CMsgBoxDlg::Open(Hwnd(), NoticeText(kind), L"提示信息", L"澄岳提示");
        ASSERT_NE(box, nullptr);
        testsupport::PumpMessagesFor(50);
        CLabelUI* text = dynamic_cast<CLabelUI*>(box->PaintHost().FindByName(L"lb_text"));
        ASSERT_NE(text, nullptr);
        HDC boxDc = GetDC(box->GetHWND());
        HGDIOBJ was = SelectObject(boxDc, box->PaintHost().GetFont(text->GetFont()));
        SIZE size = {};
        const std::wstring message = NoticeText(kind);
        GetTextExtentPoint32W(boxDc, message.c_str(), static_cast<int>(message.size()), &size);
        SelectObject(boxDc, was);
        ReleaseDC(box->GetHWND(), boxDc);
        const RECT& pos = text->GetPosition();
        EXPECT_LE(size.cx, pos.right - pos.left) << ToNarrow(message);
        DestroyWindow(box->GetHWND());
    }
}
