#include <gtest/gtest.h>
#include <winsock2.h>  // before windows.h, as the HTTP headers need
#include <windows.h>

#include <string>
#include <vector>

#include "Runtime/MainThreadDispatch.h"
#include "Runtime/TextUtil.h"
#include "Updater/UpdateModule.h"
#include "app/AppState.h"
#include "app/CommonUtils.h"
#include "app/FailureNotice.h"
#include "app/MainDlg.h"
#include "app/MsgBoxDlg.h"
#include "support/TestSupport.h"
#include "ui/Control.h"
#include "ui/HtmlText.h"
#include "ui/Label.h"
#include "ui/Option.h"
#include "ui/SkinResources.h"
#include "ui/TabLayout.h"

namespace {

// The install window built from the skin embedded in this test program, with
// no installed launcher around (nothing to hand over to at start).
class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        CSkinResources::SetInstance(GetModuleHandleW(nullptr));
        ASSERT_NE(dlg_.Create(nullptr, L"安装澄岳", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, 0), nullptr);
        // The progress page, as the install click shows it before any report.
        CTabLayoutUI* pages = dynamic_cast<CTabLayoutUI*>(dlg_.PaintHost().FindByName(L"tb_main"));
        ASSERT_NE(pages, nullptr);
        pages->Select(2);
        testsupport::PumpMessagesFor(100);
        label_ = dlg_.PaintHost().FindByName(L"lb_InstallPercent");
        bar_ = dlg_.PaintHost().FindByName(L"pro_InstallProgress");
        ASSERT_NE(label_, nullptr);
        ASSERT_NE(bar_, nullptr);
        width_ = bar_->GetPosition().right - bar_->GetPosition().left;
    }

    void TearDown() override
    {
        if (IsWindow(dlg_.GetHWND()))
            DestroyWindow(dlg_.GetHWND());
        // The window's end posts WM_QUIT for the process loop; it is not ours.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        for (HWND box; (box = FindWindowW(nullptr, L"澄岳提示")) != nullptr;)
            DestroyWindow(box);
        // A shown window's first paint began the application's deferred
        // start-up; later cases expect a process where that has not happened.
        CAppState::Instance().Stop();
        InitMainThreadDispatch();
    }

    std::wstring BarString(int fill) const
    {
        return Format(L"file='progress_bk.png' dest='0,0,%d,30' file='progress_fore.png' corner='0,15,5,15' "
                      L"dest='0,0,%d,30' ",
                      width_, fill);
    }

    static int CountNotices()
    {
        int n = 0;
        for (HWND w = FindWindowW(nullptr, L"澄岳提示"); w; w = FindWindowExW(nullptr, w, nullptr, L"澄岳提示"))
            n += IsWindowVisible(w) ? 1 : 0;
        return n;
    }

    // The checked package is the test's to give.
    struct Dlg : CMainDlg {
        using CMainDlg::ShippedPackage;
    };
    Dlg dlg_;
    CControlUI* label_ = nullptr;
    CControlUI* bar_ = nullptr;
    int width_ = 0;
};

}  // namespace

TEST_F(MainWindow, DownloadProgressShowsTheRemainingSizeAndFillsUpToNinetyPercent)
{
    ASSERT_EQ(width_, 466);
    struct Case { uint64_t total, completed; const wchar_t* text; int fill; };
    const Case cases[] = {
        {125829120, 0, L"下载中\n剩120MB", 0},
        {125829120, 62914560, L"下载中\n剩60MB", 209},      // 466 * 0.9 / 2 = 209.7
        {1000, 1000, L"下载中\n剩0B", 419},                 // 466 * 0.9 = 419.4
        {0, 0, L"下载中\n剩0B", 0},                         // unknown total: no fill
        {0, 500, L"下载中\n剩0B", 0},
    };
    for (const Case& c : cases) {
        dlg_.OnDownloadProgress(c.total, c.completed, 0, 0);
        EXPECT_EQ(label_->GetText(), c.text) << c.total << "/" << c.completed;
        EXPECT_EQ(bar_->GetBkImage(), BarString(c.fill)) << c.total << "/" << c.completed;
    }
}

TEST_F(MainWindow, TheInstallationPhaseCountsFromNinetyPercent)
{
    // A package that starts (the stand-in; it has no directory to install to
    // and ends at once).
    testsupport::TempDir pkg;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring standins(self);
    standins = standins.substr(0, standins.find_last_of(L'\\'));
    standins = standins.substr(0, standins.find_last_of(L'\\')) + L"\\standins\\ovinstaller.exe";
    ASSERT_TRUE(CopyFileW(standins.c_str(), (pkg / L"ovinstaller.exe").c_str(), FALSE));
    ASSERT_TRUE(dlg_.ShippedPackage().Open(pkg / L"ovinstaller.exe", false));
    dlg_.OnDownloadResult(0, 0, L"");
    EXPECT_EQ(label_->GetText(), L"安装中\n90%");
    EXPECT_EQ(bar_->GetBkImage(), BarString(419));
    ASSERT_TRUE(testsupport::PumpMessagesUntil([&] { return dlg_.InstallTicks() >= 10; }, 5000));
    EXPECT_EQ(label_->GetText(), L"安装中\n91%");
    EXPECT_EQ(bar_->GetBkImage(), BarString(466 * 91 / 100));
}

TEST_F(MainWindow, FailureNoticesOpenOneAtATimeAndShowTheLatestFailure)
{
    auto shown = [&] { return dlg_.FailureNotice() ? dlg_.FailureNotice()->Message() : std::wstring(); };
    dlg_.OnDownloadResult(ERR_HTTP, 500, L"");
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(CountNotices(), 1);
    EXPECT_EQ(NoticeText(NoticeKind::kNetwork), shown());
    // Progress in between, a failure of another kind: the same notice says so.
    dlg_.OnDownloadProgress(1000, 10, 0, 0);
    dlg_.OnDownloadResult(ERR_USER, UM_ERR_PACKAGE_CHECK, L"");
    dlg_.OnManifestResult(ERR_HTTP, 404, L"");
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(CountNotices(), 1);
    EXPECT_EQ(NoticeText(NoticeKind::kNetwork), shown());

    // Closed by the user, it stays closed until progress was made again.
    dlg_.FailureNotice()->Close(CMsgBoxDlg::kCancelled);
    testsupport::PumpMessagesFor(200);
    ASSERT_EQ(nullptr, dlg_.FailureNotice());
    dlg_.OnDownloadResult(ERR_CURL, 28, L"");
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(CountNotices(), 0);
    dlg_.OnDownloadProgress(1000, 20, 0, 0);
    dlg_.OnDownloadResult(ERR_CURL, 28, L"");
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(CountNotices(), 1);
}

TEST_F(MainWindow, KeysActOnTheFocusedControlOnlyAndEnterNeverOnTheAgreement)
{
    CTabLayoutUI* pages = dynamic_cast<CTabLayoutUI*>(dlg_.PaintHost().FindByName(L"tb_main"));
    pages->Select(0);
    dlg_.ShowWindow(true, false);
    testsupport::PumpMessagesFor(200);
    COptionUI* agree = dynamic_cast<COptionUI*>(dlg_.PaintHost().FindByName(L"opt_agree"));
    ASSERT_NE(agree, nullptr);
    const RECT& r = agree->GetPosition();
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(dlg_.GetHWND(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(dlg_.GetHWND(), WM_LBUTTONUP, 0, at);
    ASSERT_FALSE(agree->IsSelected());
    // The click left the option focused: Enter does not toggle it, Space does
    // (as a check box), and a held Space toggles once.
    SendMessageW(dlg_.GetHWND(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_FALSE(agree->IsSelected());
    SendMessageW(dlg_.GetHWND(), WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(dlg_.GetHWND(), WM_KEYDOWN, VK_SPACE, 0x40000000);
    EXPECT_TRUE(agree->IsSelected());
    EXPECT_EQ(0, pages->GetCurSel());

    // In the box, after its first paint: Enter does nothing (the box then
    // ends with the result given to it), Escape confirms.
    struct Case {
        WPARAM key;
        UINT result;
    } cases[] = {{VK_RETURN, 9}, {VK_SPACE, 9}, {VK_ESCAPE, CMsgBoxDlg::kConfirmed}};
    for (const Case& c : cases) {
        CMsgBoxDlg* box = CMsgBoxDlg::Open(dlg_.GetHWND(), L"是否退出安装？", L"", L"退出安装");
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
    CLabelUI* label = dynamic_cast<CLabelUI*>(label_);
    ASSERT_NE(label, nullptr);
    RECT rc = label->GetPosition();
    HDC screen = GetDC(dlg_.GetHWND());
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 600, 400);
    HGDIOBJ old = SelectObject(dc, bmp);

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
        DrawHtmlText(dc, &dlg_.PaintHost(), box, text.c_str(), 0xFF000000, label->GetFont(), label->GetTextStyle(),
                     &lines);
        const size_t want = text.find(L'\n') == std::wstring::npos ? 1 : 2;
        RECT single = rc;
        single.right = rc.left + 1000;
        std::vector<HtmlLine> natural;
        DrawHtmlText(dc, &dlg_.PaintHost(), single, text.c_str(), 0xFF000000, label->GetFont(), 0, &natural);
        std::string widths;
        for (const HtmlLine& line : natural)
            widths += " " + std::to_string(line.rc.right - line.rc.left);
        ASSERT_EQ(want, lines.size()) << "line widths" << widths << " in " << rc.right - rc.left;
        for (const HtmlLine& line : lines) {
            EXPECT_GE(line.rc.left, rc.left) << ToNarrow(text);
            EXPECT_LE(line.rc.right, rc.right) << ToNarrow(text) << " is " << line.rc.right - line.rc.left << " wide";
            EXPECT_GE(line.rc.top, rc.top) << ToNarrow(text);
            EXPECT_LE(line.rc.bottom, rc.bottom) << ToNarrow(text);
        }
    }
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(dlg_.GetHWND(), screen);

    // Every notice in the message box's one-line message label.
    const NoticeKind kinds[] = {NoticeKind::kNetwork,      NoticeKind::kDiskFull,     NoticeKind::kDiskUnwritable,
                                NoticeKind::kPackageCheck, NoticeKind::kSystem,       NoticeKind::kPackageStart,
                                NoticeKind::kLauncherStart, NoticeKind::kInstalling};
    for (NoticeKind kind : kinds) {
        CMsgBoxDlg* box = CMsgBoxDlg::Open(dlg_.GetHWND(), NoticeText(kind), L"提示信息", L"澄岳提示");
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
