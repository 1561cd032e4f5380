#include "app/WindowDriver.h"

#include "Runtime/MainThreadDispatch.h"
#include "Runtime/TextUtil.h"
#include "Updater/UpdateModule.h"
#include "app/AppState.h"
#include "app/MsgBoxDlg.h"
#include "ui/Control.h"
#include "ui/SkinResources.h"
#include "ui/TabLayout.h"

namespace {

const wchar_t kNoticeCaption[] = L"澄岳提示";

}  // namespace

WindowDriver* WindowDriver::current_ = nullptr;

UpdateModule* TestWindow::CreateUpdater(const std::wstring& packageDir)
{
    return new UpdateModule(channels, this, UpdateConfig{packageDir, endpoints});
}

void WindowDriver::SetUp()
{
    UpdaterTest::SetUp();
    CSkinResources::SetInstance(GetModuleHandleW(nullptr));
    current_ = this;
    answerer_ = SetTimer(nullptr, 0, 50, &WindowDriver::AnswerModalBoxes);
    NewWindow();
}

void WindowDriver::TearDown()
{
    CloseWindow();
    // A window's first paint began the application's deferred start-up (its
    // HTTP channels among it); later cases expect a process where it has not.
    CAppState::Instance().Stop();
    InitMainThreadDispatch();
    KillTimer(nullptr, answerer_);
    current_ = nullptr;
    UpdaterTest::TearDown();
}

void WindowDriver::NewWindow()
{
    CloseWindow();
    win_.reset(new TestWindow);
    win_->stagingDir = staging_.Path();
    ASSERT_NE(nullptr, win_->Create(nullptr, L"安装澄岳", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, 0));
    win_->ShowWindow(true, false);
    testsupport::PumpMessagesFor(100);
}

void WindowDriver::CloseWindow()
{
    if (!win_)
        return;
    if (IsWindow(Hwnd()))
        DestroyWindow(Hwnd());
    // The window's end posts WM_QUIT for the process loop; it is not ours.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    for (HWND box; (box = FindWindowW(nullptr, kNoticeCaption)) != nullptr;)
        DestroyWindow(box);
    win_.reset();
}

int WindowDriver::Page()
{
    return dynamic_cast<CTabLayoutUI*>(Find(L"tb_main"))->GetCurSel();
}

std::wstring WindowDriver::Percent()
{
    return Find(L"lb_InstallPercent")->GetText();
}

int WindowDriver::CountNotices()
{
    int n = 0;
    for (HWND w = FindWindowW(nullptr, kNoticeCaption); w; w = FindWindowExW(nullptr, w, nullptr, kNoticeCaption))
        n += IsWindowVisible(w) ? 1 : 0;
    return n;
}

void WindowDriver::Click(const wchar_t* name)
{
    CControlUI* c = Find(name);
    ASSERT_NE(nullptr, c) << ToNarrow(name);
    const RECT& r = c->GetPosition();
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(Hwnd(), WM_MOUSEMOVE, 0, at);
    SendMessageW(Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(Hwnd(), WM_LBUTTONUP, 0, at);
}

void WindowDriver::TypeDirectory(const std::wstring& text)
{
    Click(L"edit_input");
    HWND edit = FindWindowExW(Hwnd(), nullptr, L"EditWnd", nullptr);
    ASSERT_NE(nullptr, edit) << "the edit field has no native window";
    SetWindowTextW(edit, text.c_str());
}

std::wstring WindowDriver::Manifest(const std::string& name, const std::string& packageUrl, const std::string& bytes)
{
    return ManifestEndpoint(name, ManifestBody(packageUrl, std::to_string(bytes.size()), Narrow(Md5Of(bytes)), "1"));
}

int WindowDriver::RunUntilQuit(DWORD ms)
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

std::string WindowDriver::StandinBytes(const wchar_t* name)
{
    return testsupport::ReadBytes(testsupport::StandinDir() + L"\\" + name);
}

// Closes every modal message box with Escape, as a user would. Modeless
// notices are left alone: a box is modal while its owner is disabled.
void CALLBACK WindowDriver::AnswerModalBoxes(HWND, UINT, UINT_PTR, DWORD)
{
    WindowDriver* self = current_;
    if (!self || !self->win_ || !IsWindow(self->Hwnd()) || IsWindowEnabled(self->Hwnd()))
        return;
    EnumThreadWindows(GetCurrentThreadId(), &WindowDriver::AnswerOne, reinterpret_cast<LPARAM>(self));
}

BOOL CALLBACK WindowDriver::AnswerOne(HWND hwnd, LPARAM param)
{
    WindowDriver* self = reinterpret_cast<WindowDriver*>(param);
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    if (wcscmp(cls, L"orvelim") != 0 || !IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd) || self->answered_.count(hwnd))
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
