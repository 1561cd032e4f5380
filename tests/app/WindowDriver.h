#pragma once
// The one window driver of the app tests: the install window built from the
// skin embedded in the test program, driven through real mouse and key
// messages, with the real update module against the fault server. The
// window's seams only point the module at the test server, say how much
// space is free, give a temporary staging folder and run the retry waits a
// hundred times faster (after recording them). Modal boxes are answered with
// Escape and remembered; the teardown closes every window and undoes the
// deferred start-up the first paint began.

#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Updater/UpdaterTestSupport.h"
#include "app/MainDlg.h"

class CControlUI;

class TestWindow : public CMainDlg {
public:
    std::vector<std::wstring> endpoints;
    updatertest::FixtureChannels channels;  // the engine fixture's
    uint64_t freeBytes = 1ull << 40;
    std::wstring stagingDir;
    std::vector<UINT> delays;

protected:
    std::wstring PrepareStaging() override { return stagingDir; }
    UpdateModule* CreateUpdater(const std::wstring& packageDir) override;
    bool FreeBytes(const std::wstring&, uint64_t* bytes) override
    {
        *bytes = freeBytes;
        return true;
    }
    void ArmRetryTimer(UINT delayMs) override
    {
        delays.push_back(delayMs);
        CMainDlg::ArmRetryTimer(delayMs / 100);
    }
};

class WindowDriver : public updatertest::UpdaterTest {
protected:
    struct Modal {
        std::wstring caption, message;
        std::wstring percent;  // the main window's label meanwhile
    };

    void SetUp() override;
    void TearDown() override;
    // A new window (closing the last one), shown and painted.
    void NewWindow();
    void CloseWindow();

    HWND Hwnd() const { return win_->GetHWND(); }
    CControlUI* Find(const wchar_t* name) { return win_->PaintHost().FindByName(name); }
    int Page();
    std::wstring Percent();
    // The failure notices shown.
    int CountNotices();
    // A mouse click in the middle of the control, as the user would make it.
    void Click(const wchar_t* name);
    // Types `text` into the directory field's native edit window.
    void TypeDirectory(const std::wstring& text);
    // A manifest naming a package at `packageUrl` with `bytes`' size and MD5.
    std::wstring Manifest(const std::string& name, const std::string& packageUrl, const std::string& bytes);
    // Runs the message loop until the window ends the run: the exit code it
    // posted, or -1 when none came within `ms`.
    int RunUntilQuit(DWORD ms);
    bool Installing() { return Percent() == L"安装中\n90%"; }
    static std::string StandinBytes(const wchar_t* name);

    std::unique_ptr<TestWindow> win_;
    std::vector<Modal> modals_;
    testsupport::TempDir staging_;

private:
    static void CALLBACK AnswerModalBoxes(HWND, UINT, UINT_PTR, DWORD);
    static BOOL CALLBACK AnswerOne(HWND hwnd, LPARAM self);
    static WindowDriver* current_;
    UINT_PTR answerer_ = 0;
    std::set<HWND> answered_;
};
