// The window base with real windows on the display: caption dragging, the
// rounded region, the modal loop, default keys, input routing and
// notification routing by type and sender name.

#include <gtest/gtest.h>

#include "ControlTestSupport.h"
#include "UiTestSupport.h"
#include "support/TestSupport.h"
#include "ui/Container.h"
#include "ui/VerticalLayout.h"

using uitest::ProbeControl;
using uitest::TestWindow;

namespace {

ProbeControl* Floating(const wchar_t* className, const wchar_t* pos, const wchar_t* name = L"") {
    auto* c = new ProbeControl(className);
    c->SetProperty(L"float", L"true");
    c->SetProperty(L"pos", pos);
    c->SetName(name);
    return c;
}

CControlUI* Empty(CPaintHostUI&) { return new CVerticalLayoutUI; }

struct Destroyer {
    HWND hwnd;
    ~Destroyer() {
        if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
        uitest::PumpPending();
    }
};

LPARAM ScreenPoint(HWND hwnd, int x, int y) {
    POINT pt = {x, y};
    ClientToScreen(hwnd, &pt);
    return MAKELPARAM(pt.x, pt.y);
}

}  // namespace

TEST(WindowBase, CaptionBandDragsOnLabelsButNotOnButtons) {
    ProbeControl* label = nullptr;
    ProbeControl* button = nullptr;
    TestWindow w([&](CPaintHostUI& host) {
        host.SetCaptionRect(RECT{0, 0, 0, 50});
        auto* root = new CVerticalLayoutUI;
        auto* box = new CContainerUI;  // layouts between the label and the root drag too
        box->SetProperty(L"float", L"true");
        box->SetProperty(L"pos", L"0,0,300,50");
        label = Floating(L"LabelUI", L"10,10,60,30");
        button = Floating(L"ButtonUI", L"100,10,150,30");
        box->Add(label);
        box->Add(button);
        root->Add(box);
        root->Add(Floating(L"LabelUI", L"10,80,60,100"));
        return root;
    });
    HWND hwnd = w.CreateAt(100, 100, 300, 200);
    ASSERT_NE(nullptr, hwnd);
    Destroyer d{hwnd};
    struct Case {
        int x, y;
        LRESULT expected;
    } cases[] = {
        {20, 20, HTCAPTION},   // label in the band
        {120, 20, HTCLIENT},   // button in the band
        {200, 40, HTCAPTION},  // empty layout area in the band
        {299, 0, HTCAPTION},
        {20, 50, HTCLIENT},    // just below the band
        {20, 90, HTCLIENT},    // a label outside the band
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, SendMessageW(hwnd, WM_NCHITTEST, 0, ScreenPoint(hwnd, c.x, c.y))) << c.x << "," << c.y;
    EXPECT_TRUE(WindowImplBase::IsDraggable(nullptr));
    EXPECT_FALSE(WindowImplBase::IsDraggable(button));
}

TEST(WindowBase, RoundedRegionFollowsTheSize) {
    TestWindow w([](CPaintHostUI& host) {
        host.SetRoundCorner(20, 20);
        return new CVerticalLayoutUI;
    });
    HWND hwnd = w.CreateAt(50, 50, 300, 200);
    ASSERT_NE(nullptr, hwnd);
    Destroyer d{hwnd};
    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, GetWindowRgn(hwnd, rgn));
    EXPECT_FALSE(PtInRegion(rgn, 0, 0));
    EXPECT_FALSE(PtInRegion(rgn, 299, 199));
    EXPECT_TRUE(PtInRegion(rgn, 150, 100));
    EXPECT_TRUE(PtInRegion(rgn, 0, 100));
    EXPECT_TRUE(PtInRegion(rgn, 299, 100));

    SetWindowPos(hwnd, nullptr, 0, 0, 200, 100, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_NE(ERROR, GetWindowRgn(hwnd, rgn));
    EXPECT_FALSE(PtInRegion(rgn, 199, 99));
    EXPECT_TRUE(PtInRegion(rgn, 199, 50));
    EXPECT_FALSE(PtInRegion(rgn, 250, 50));
    DeleteObject(rgn);
}

TEST(WindowBase, RunModalReturnsTheLastCloseResultAndFreesTheOwner) {
    TestWindow owner(Empty);
    HWND ownerWnd = owner.CreateAt(0, 0, 100, 100);
    ASSERT_NE(nullptr, ownerWnd);
    Destroyer d1{ownerWnd};
    TestWindow w(Empty);
    HWND hwnd = w.CreateAt(10, 10, 100, 100, ownerWnd);
    ASSERT_NE(nullptr, hwnd);
    Destroyer d2{hwnd};
    w.vetoCloses = 1;
    w.Close(3);
    w.Close(5);
    EXPECT_EQ(5u, w.RunModal());
    EXPECT_EQ(2, w.closeCount);
    EXPECT_TRUE(w.destroyed);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(IsWindowEnabled(ownerWnd));
}

TEST(WindowBase, QuitDuringRunModalIsPostedAgain) {
    TestWindow w(Empty);
    HWND hwnd = w.CreateAt(10, 10, 100, 100);
    ASSERT_NE(nullptr, hwnd);
    Destroyer d{hwnd};
    PostQuitMessage(7);
    EXPECT_EQ(0u, w.RunModal());
    EXPECT_TRUE(IsWindow(hwnd));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, msg.wParam);
}

TEST(WindowBase, EscapeClosesWithOneAndEnterDoesNothing) {
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        TestWindow w(Empty);
        HWND hwnd = w.CreateAt(10, 10, 100, 100);
        ASSERT_NE(nullptr, hwnd);
        Destroyer d{hwnd};
        PostMessageW(hwnd, WM_KEYDOWN, key, 0);
        if (key == VK_ESCAPE) {
            EXPECT_EQ(1u, w.RunModal());
            continue;
        }
        w.Close(9);
        EXPECT_EQ(9u, w.RunModal());
        EXPECT_EQ(1, w.closeCount);  // Enter did not close it
    }
}

TEST(WindowBase, MouseKeyboardAndTimersReachControls) {
    ProbeControl* probe = nullptr;
    TestWindow w([&](CPaintHostUI& host) {
        auto* root = new CVerticalLayoutUI;
        probe = Floating(L"ButtonUI", L"10,10,60,40", L"probe");
        probe->tabStop = true;
        root->Add(probe);
        return root;
    });
    ctltest::Recorder rec;
    HWND hwnd = w.CreateAt(10, 10, 200, 100);
    ASSERT_NE(nullptr, hwnd);
    Destroyer d{hwnd};
    w.PaintHost().AddNotifier(&rec);
    // No control takes the focus by itself, not even the only tab stop.
    EXPECT_EQ(nullptr, w.PaintHost().GetFocus());
    probe->events.clear();

    ctltest::Click(hwnd, 20, 20);
    SendMessageW(hwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(20, 20));
    SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
    SendMessageW(hwnd, WM_KEYDOWN, 'A', 0);
    SendMessageW(hwnd, WM_KEYUP, 'A', 0);
    SendMessageW(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(150, 80));
    const std::vector<int> expected = {UIEVENT_MOUSEENTER, UIEVENT_MOUSEMOVE, UIEVENT_SETFOCUS, UIEVENT_BUTTONDOWN,
                                       UIEVENT_BUTTONUP,   UIEVENT_DBLCLICK,  UIEVENT_BUTTONUP, UIEVENT_KEYDOWN,
                                       UIEVENT_KEYUP,      UIEVENT_MOUSELEAVE};
    EXPECT_EQ(expected, probe->events);
    EXPECT_EQ(probe, w.PaintHost().GetFocus());

    // The wheel goes to the control under the cursor; hovering shows its tip.
    probe->events.clear();
    SendMessageW(hwnd, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), ScreenPoint(hwnd, 20, 20));
    EXPECT_EQ(std::vector<int>{UIEVENT_SCROLLWHEEL}, probe->events);
    probe->SetToolTip(L"tip");
    SendMessageW(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
    SendMessageW(hwnd, WM_MOUSEHOVER, 0, MAKELPARAM(20, 20));
    HWND tip = nullptr;  // the tooltip window this one owns
    while ((tip = FindWindowExW(nullptr, tip, L"tooltips_class32", nullptr)) && GetWindow(tip, GW_OWNER) != hwnd) {
    }
    ASSERT_NE(nullptr, tip);
    EXPECT_TRUE(IsWindowVisible(tip));
    SendMessageW(hwnd, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(tip));

    probe->events.clear();
    ASSERT_TRUE(w.PaintHost().SetTimer(probe, 5, 10));
    EXPECT_TRUE(testsupport::PumpMessagesUntil(
        [&] { return std::find(probe->events.begin(), probe->events.end(), UIEVENT_TIMER) != probe->events.end(); },
        2000));
    EXPECT_TRUE(w.PaintHost().KillTimer(probe, 5));
    EXPECT_LT(0, rec.Count(L"timer"));
    EXPECT_LT(0, rec.Count(L"setfocus"));
    w.PaintHost().RemoveNotifier(&rec);
}

// ---- notification routing ---------------------------------------------------

namespace {

class PagePump : public CNotifyPump {
public:
    void OnPageClick(TNotifyRecord& msg) { seen.push_back(L"page:" + msg.sender->GetName()); }
    std::vector<std::wstring> seen;
    OV_DECLARE_NOTIFY_MAP()
};

OV_NOTIFY_MAP_BEGIN_ROOT(PagePump)
OV_NOTIFY_ON_RECORD(L"click", L"", &PagePump::OnPageClick)
OV_NOTIFY_MAP_END()

class NotifyWindow : public TestWindow {
public:
    using TestWindow::TestWindow;
    void OnA(TNotifyRecord& msg) { seen.push_back(L"A"); }
    void OnAnySelect(TNotifyRecord& msg) { seen.push_back(L"any-select:" + msg.sender->GetName()); }
    void OnOptB(WPARAM w, LPARAM l) { seen.push_back(L"optb:" + std::to_wstring(w) + L"," + std::to_wstring(l)); }
    void OnClick(TNotifyRecord& msg) override {
        seen.push_back(L"base-click:" + msg.sender->GetName());
        TestWindow::OnClick(msg);
    }
    std::vector<std::wstring> seen;
    OV_DECLARE_NOTIFY_MAP()
};

OV_NOTIFY_MAP_BEGIN(NotifyWindow, WindowImplBase)
OV_NOTIFY_ON_RECORD(L"click", L"btn_a", &NotifyWindow::OnA)
OV_NOTIFY_ON_RECORD(L"selectchanged", L"", &NotifyWindow::OnAnySelect)
OV_NOTIFY_ON_PARAMS(L"selectchanged", L"opt_b", &NotifyWindow::OnOptB)
OV_NOTIFY_MAP_END()

}  // namespace

TEST(WindowBase, NotificationsAreRoutedByTypeAndSenderName) {
    NotifyWindow w([](CPaintHostUI&) {
        auto* root = new CVerticalLayoutUI;
        for (const wchar_t* name : {L"btn_a", L"btn_close", L"other", L"opt_b", L"opt_c", L"paged"}) {
            auto* c = new CControlUI;
            c->SetName(name);
            root->Add(c);
        }
        return root;
    });
    HWND hwnd = w.CreateAt(10, 10, 200, 100);
    ASSERT_NE(nullptr, hwnd);
    Destroyer d{hwnd};
    CPaintHostUI& host = w.PaintHost();
    PagePump page;
    ASSERT_TRUE(w.AddVirtualWnd(L"page", &page));
    host.FindByName(L"paged")->SetVirtualWnd(L"PAGE");

    host.RaiseNotification(host.FindByName(L"btn_a"), L"click");
    host.RaiseNotification(host.FindByName(L"other"), L"click");
    host.RaiseNotification(host.FindByName(L"opt_b"), L"selectchanged", 4, 9);
    host.RaiseNotification(host.FindByName(L"opt_c"), L"selectchanged");
    host.RaiseNotification(host.FindByName(L"paged"), L"click");
    host.RaiseNotification(host.FindByName(L"btn_a"), L"unknown");
    const std::vector<std::wstring> expected = {L"A", L"base-click:other", L"optb:4,9", L"any-select:opt_c"};
    EXPECT_EQ(expected, w.seen);
    ASSERT_EQ(1u, page.seen.size());
    EXPECT_EQ(L"page:paged", page.seen[0]);

    // The base map's OnClick closes on "btn_close" with result 1.
    host.RaiseNotification(host.FindByName(L"btn_close"), L"click");
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, hwnd, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    EXPECT_EQ(1u, msg.wParam);
    w.RemoveVirtualWnd(L"page");
}

TEST(WindowBase, PaintsTheTreeAndForgetsItOnDestroy) {
    CControlUI* named = nullptr;
    TestWindow w([&](CPaintHostUI& host) {
        auto* root = new CVerticalLayoutUI;
        root->SetBkColor(0xFF0000FF);
        named = new CControlUI;
        named->SetName(L"top");
        named->SetFixedHeight(20);
        named->SetBkColor(0xFFFF0000);
        root->Add(named);
        return root;
    });
    HWND hwnd = w.Create(nullptr, L"paint", WS_POPUP, 0, 10, 10, 100, 60);
    ASSERT_NE(nullptr, hwnd);
    Destroyer d{hwnd};
    uitest::Surface s(100, 60);
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(s.dc()), PRF_CLIENT);
    EXPECT_EQ(0xFF0000u, s.Rgb(50, 10));
    EXPECT_EQ(0x0000FFu, s.Rgb(50, 40));
    EXPECT_EQ(named, w.PaintHost().FindByName(L"top"));

    // The same through WM_PAINT on the display.
    ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    UpdateWindow(hwnd);
    uitest::Surface screen(100, 60, 0x00FF00);
    HDC wdc = GetDC(hwnd);
    BitBlt(screen.dc(), 0, 0, 100, 60, wdc, 0, 0, SRCCOPY);
    ReleaseDC(hwnd, wdc);
    EXPECT_EQ(0xFF0000u, screen.Rgb(50, 10));
    EXPECT_EQ(0x0000FFu, screen.Rgb(50, 40));
    DestroyWindow(hwnd);
    EXPECT_TRUE(w.destroyed);
    EXPECT_EQ(nullptr, w.PaintHost().GetFocus());
}

TEST(WindowBase, ALayoutThatCannotBeBuiltFailsTheCreationAndNotTheProcess) {
    TestWindow broken([](CPaintHostUI&) -> CControlUI* { return nullptr; });
    EXPECT_EQ(broken.CreateAt(0, 0, 100, 100), nullptr);
    EXPECT_TRUE(broken.LayoutFailed());
    EXPECT_TRUE(broken.destroyed) << "the half-made window is taken down again";
    // Still running: a window with a layout is made as ever.
    TestWindow fine([](CPaintHostUI&) { return new CContainerUI; });
    Destroyer d{fine.CreateAt(0, 0, 100, 100)};
    EXPECT_NE(d.hwnd, nullptr);
    EXPECT_FALSE(fine.LayoutFailed());
}
