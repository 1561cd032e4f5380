// Skin preview: opens the install window and the message box from the skin
// archive embedded in this program, with no network and no install logic, so
// that designers and screenshot runs see exactly what the installer shows.
//
//   skin_preview [--window install|msgbox|both] [--page 0|1|2] [--progress 0-100]
//                [--exit-after MS]
//
// install (default) shows the install window on the given page of "tb_main";
// its close button opens the message box, whose "确定" closes the window.
// msgbox shows the message box alone; both shows the install window with the
// message box modal over it. --progress fills the bar of page 2 the way the
// install window does while it downloads. --exit-after ends the program after MS
// milliseconds (for tests and screenshots); the exit code is then 0.

#include <windows.h>

#include <cwchar>
#include <string>

#include "ui/Control.h"
#include "ui/SkinResources.h"
#include "ui/TabLayout.h"
#include "ui/UIAttr.h"
#include "ui/WindowImplBase.h"

namespace {

class PreviewMessageBox : public WindowImplBase {
public:
    const wchar_t* WindowClassName() const override { return L"OvSkinPreviewMsgBox"; }
    std::wstring SkinFolder() override { return L"skin"; }
    std::wstring SkinFile() override { return L"MessageBox.xml"; }
    void OnClick(TNotifyRecord& msg) override {
        if (msg.sender && msg.sender->GetName() == L"btn_ok") return Close(1);
        if (msg.sender && msg.sender->GetName() == L"btn_cancel") return Close(2);
        WindowImplBase::OnClick(msg);
    }
    void OnWindowDestroyed(HWND hwnd) override {
        WindowImplBase::OnWindowDestroyed(hwnd);
        if (quitOnDestroy) PostQuitMessage(0);
    }
    bool quitOnDestroy = false;
};

// Shows the message box modally over `owner` (or alone) and returns its result.
int RunMessageBox(HWND owner) {
    PreviewMessageBox box;
    if (!box.Create(owner, L"orvelim", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, WS_EX_TOOLWINDOW, 0, 0, 0, 0))
        return 0;
    box.CenterOnOwner();
    return box.RunModal();
}

class PreviewInstallWindow : public WindowImplBase {
public:
    PreviewInstallWindow(int page, int progress) : page_(page), progress_(progress) {}
    const wchar_t* WindowClassName() const override { return L"OvSkinPreviewInstall"; }
    std::wstring SkinFolder() override { return L"skin"; }
    std::wstring SkinFile() override { return L"InstallPackages.xml"; }
    void PrepareWindow() override {
        if (auto* tabs = dynamic_cast<CTabLayoutUI*>(paintHost_.FindByName(L"tb_main"))) tabs->Select(page_);
        if (progress_ >= 0) ShowProgress(progress_);
    }
    // The same two-part image string the install window sets on its bar.
    void ShowProgress(int percent) {
        paintHost_.UpdateLayout();
        CControlUI* bar = paintHost_.FindByName(L"pro_InstallProgress");
        CControlUI* label = paintHost_.FindByName(L"lb_InstallPercent");
        if (!bar || !label) return;
        const int width = bar->GetWidth();
        wchar_t image[260];
        _snwprintf(image, 259,
                   L"file='progress_bk.png' dest='0,0,%d,30' file='progress_fore.png' corner='0,15,5,15' "
                   L"dest='0,0,%d,30' ",
                   width, width * percent / 100);
        image[259] = 0;
        bar->SetBkImage(image);
        label->SetText(std::to_wstring(percent) + L"%");
    }
    void OnClick(TNotifyRecord& msg) override {
        const std::wstring name = msg.sender ? msg.sender->GetName() : std::wstring();
        auto* tabs = dynamic_cast<CTabLayoutUI*>(paintHost_.FindByName(L"tb_main"));
        if (name == L"btn_close") {
            if (RunMessageBox(hwnd_) == 1) Close(1);
        } else if (name == L"btn_free" && tabs) {
            tabs->Select(1);
        } else if ((name == L"btn_install" || name == L"btn_install2") && tabs) {
            tabs->Select(2);
        } else {
            WindowImplBase::OnClick(msg);
        }
    }
    void OnWindowDestroyed(HWND hwnd) override {
        WindowImplBase::OnWindowDestroyed(hwnd);
        PostQuitMessage(0);
    }

private:
    int page_;
    int progress_;
};

struct Options {
    std::wstring window = L"install";
    int page = 0;
    int progress = -1;  // -1: leave the bar as the layout has it
    int exitAfterMs = 0;
};

bool ParseOptions(Options& options) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return false;
    bool ok = true;
    for (int i = 1; i < argc && ok; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--window" && hasValue)
            options.window = argv[++i];
        else if (arg == L"--page" && hasValue)
            options.page = uiattr::ParseInt(argv[++i]);
        else if (arg == L"--progress" && hasValue)
            options.progress = uiattr::ParseInt(argv[++i]);
        else if (arg == L"--exit-after" && hasValue)
            options.exitAfterMs = uiattr::ParseInt(argv[++i]);
        else
            ok = false;
    }
    LocalFree(argv);
    if (options.window != L"install" && options.window != L"msgbox" && options.window != L"both") ok = false;
    if (options.page < 0 || options.page > 2 || options.exitAfterMs < 0 || options.progress > 100) ok = false;
    if (options.progress < -1) ok = false;
    return ok;
}

void CALLBACK ExitTimer(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(0); }

int RunMessageLoop() {
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) return 1;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    Options options;
    if (!ParseOptions(options)) {
        MessageBoxW(nullptr, L"skin_preview [--window install|msgbox|both] [--page 0|1|2] [--progress 0-100] [--exit-after MS]",
                    L"skin_preview", MB_OK | MB_ICONINFORMATION);
        return 2;
    }
    CSkinResources::SetInstance(instance);
    if (options.exitAfterMs > 0 && !SetTimer(nullptr, 0, static_cast<UINT>(options.exitAfterMs), &ExitTimer))
        return 1;

    int code = 0;
    if (options.window == L"msgbox") {
        PreviewMessageBox box;
        box.quitOnDestroy = true;
        if (!box.Create(nullptr, L"orvelim", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0, 0, 0)) return 1;
        box.CenterOnOwner();
        box.ShowWindow(true, true);
        code = RunMessageLoop();
    } else {
        PreviewInstallWindow window(options.page, options.progress);
        if (!window.Create(nullptr, L"安装澄岳", WS_POPUP | WS_MINIMIZEBOX | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0,
                           0, 0))
            return 1;
        window.CenterOnOwner();
        window.ShowWindow(true, true);
        if (options.window == L"both") {
            // Let the install window paint before the box takes over the loop.
            UpdateWindow(window.GetHWND());
            if (RunMessageBox(window.GetHWND()) == 1) window.Close(1);
        }
        code = RunMessageLoop();
    }
    CSkinResources::ReleaseSkinResources();
    return code;
}
