// A skinned box run modally over its owner, both with drop shadows, driven by
// real input (SendInput from another thread, as the user's mouse and keyboard
// would): the box's own button and Escape end RunModal with their results,
// and the owner neither closes nor stays disabled.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "UiTestSupport.h"
#include "ui/Button.h"
#include "ui/VerticalLayout.h"

using uitest::TestWindow;

namespace {

const int kResultFromButton = 2;
const UINT kWatchdogResult = 99;  // the driver gave up: the input had no effect

class ProbeButton : public CButtonUI {
public:
    void HandleEvent(TEventUI& e) override {
        events.push_back(e.type);
        CButtonUI::HandleEvent(e);
    }
    bool Saw(int type) const { return std::find(events.begin(), events.end(), type) != events.end(); }
    std::vector<int> events;
};

// The box closes with kResultFromButton when its button is clicked; Escape
// is the base's (result 1).
class ModalBox : public TestWindow {
public:
    ModalBox()
        : TestWindow([this](CPaintHostUI& host) {
              host.SetShadow(true);
              auto* root = new CVerticalLayoutUI;
              button = new ProbeButton;
              button->SetProperty(L"float", L"true");
              button->SetProperty(L"pos", L"100,60,180,90");
              button->SetName(L"btn_ok");
              root->Add(button);
              return root;
          }) {}
    void Notify(TNotifyRecord& msg) override {
        if (msg.type == L"click" && msg.sender == button)
            Close(kResultFromButton);
        else
            TestWindow::Notify(msg);
    }
    ProbeButton* button = nullptr;
};

void SendMouse(DWORD flags, POINT screen) {
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof(in));
}

void SendKey(WORD vk, bool up) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof(in));
}

bool WaitFor(const std::function<bool()>& done, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) return false;
        Sleep(10);
    }
    return true;
}

}  // namespace

TEST(ModalBox, RealInputReachesTheBoxOverItsDisabledOwner) {
    TestWindow owner([](CPaintHostUI& host) {
        host.SetShadow(true);
        return new CVerticalLayoutUI;
    });
    HWND ownerWnd = owner.CreateAt(100, 100, 500, 350);
    ASSERT_NE(nullptr, ownerWnd);
    ::ShowWindow(ownerWnd, SW_SHOWNORMAL);  // the install window is the active one
    SetForegroundWindow(ownerWnd);
    uitest::PumpPending();

    enum Input { kClickButton, kEscape };
    struct Case {
        const char* name;
        Input input;
        UINT expected;
    } cases[] = {
        {"click on the box's button", kClickButton, kResultFromButton},
        {"Escape", kEscape, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* box = new ModalBox;  // deleted below: TestWindow does not free itself
        HWND boxWnd = box->CreateAt(210, 180, 280, 115, ownerWnd);
        ASSERT_NE(nullptr, boxWnd);
        POINT target = {140, 75};  // centre of the button
        ClientToScreen(boxWnd, &target);

        std::atomic<bool> stop{false};
        std::thread driver([&] {
            // RunModal has started once the owner is disabled.
            if (!WaitFor([&] { return stop.load() || !IsWindowEnabled(ownerWnd); }, 5000)) return;
            // Input goes to what is shown and active: on a loaded machine the
            // box can take far longer than a moment to get there.
            WaitFor([&] { return stop.load() || (IsWindowVisible(boxWnd) && GetForegroundWindow() == boxWnd); }, 5000);
            Sleep(200);
            if (c.input == kClickButton) {
                SendMouse(MOUSEEVENTF_MOVE, POINT{target.x - 1, target.y - 1});
                Sleep(100);
                SendMouse(MOUSEEVENTF_MOVE, target);
                Sleep(100);
                SendMouse(MOUSEEVENTF_LEFTDOWN, target);
                SendMouse(MOUSEEVENTF_LEFTUP, target);
            } else {
                SendKey(VK_ESCAPE, false);
                SendKey(VK_ESCAPE, true);
            }
            // Ends a loop the input could not end, so that the test fails instead of hanging.
            if (!WaitFor([&] { return stop.load() || !IsWindow(boxWnd); }, 5000))
                PostMessageW(boxWnd, WM_CLOSE, kWatchdogResult, 0);
        });
        const UINT result = box->RunModal();
        stop = true;
        driver.join();

        EXPECT_EQ(c.expected, result);
        if (c.input == kClickButton) {
            EXPECT_TRUE(box->button->Saw(UIEVENT_MOUSEENTER)) << "no hover";
            EXPECT_TRUE(box->button->Saw(UIEVENT_BUTTONDOWN));
        }
        EXPECT_TRUE(box->destroyed);
        EXPECT_FALSE(IsWindow(boxWnd));
        EXPECT_TRUE(IsWindow(ownerWnd));
        EXPECT_EQ(0, owner.closeCount) << "the input closed the owner";
        EXPECT_TRUE(IsWindowEnabled(ownerWnd));
        delete box;
        uitest::PumpPending();
    }
    DestroyWindow(ownerWnd);
    uitest::PumpPending();
}
