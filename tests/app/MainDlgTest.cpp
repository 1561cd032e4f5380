#include <gtest/gtest.h>
#include <winsock2.h>  // before windows.h, as the HTTP headers need
#include <windows.h>

#include <string>

#include "Runtime/TextUtil.h"
#include "app/MainDlg.h"
#include "support/TestSupport.h"
#include "ui/Control.h"
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

    CMainDlg dlg_;
    CControlUI* label_ = nullptr;
    CControlUI* bar_ = nullptr;
    int width_ = 0;
};

}  // namespace

TEST_F(MainWindow, DownloadProgressShowsTheRemainingSizeAndFillsUpToNinetyPercent)
{
    ASSERT_EQ(width_, 474);
    struct Case { uint64_t total, completed; const wchar_t* text; int fill; };
    const Case cases[] = {
        {125829120, 0, L"下载中\n剩120MB", 0},
        {125829120, 62914560, L"下载中\n剩60MB", 213},      // 474 * 0.9 / 2 = 213.3
        {1000, 1000, L"下载中\n剩0B", 426},                 // 474 * 0.9 = 426.6
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
    dlg_.OnDownloadResult(0, 0, L"");
    EXPECT_EQ(label_->GetText(), L"安装中\n90%");
    EXPECT_EQ(bar_->GetBkImage(), BarString(426));
    ASSERT_TRUE(testsupport::PumpMessagesUntil([&] { return dlg_.InstallTicks() >= 10; }, 5000));
    EXPECT_EQ(label_->GetText(), L"安装中\n91%");
    EXPECT_EQ(bar_->GetBkImage(), BarString(474 * 91 / 100));
}

TEST_F(MainWindow, FailuresShowOneNoticePerProgressReport)
{
    dlg_.OnDownloadResult(2, 28, L"");
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(CountNotices(), 1);
    dlg_.OnDownloadResult(5, 7, L"");  // no progress since: no second notice
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(CountNotices(), 1);
    dlg_.OnDownloadProgress(100, 10, 0, 0);
    dlg_.OnDownloadResult(5, 7, L"");
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(CountNotices(), 2);
    // A failed manifest always tells, armed or not.
    dlg_.OnManifestResult(4, 404, L"");
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ(CountNotices(), 3);
}
