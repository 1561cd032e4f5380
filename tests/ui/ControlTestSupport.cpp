#include "ControlTestSupport.h"

namespace ctltest {

std::wstring SkinDir() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    for (int up = 0; up < 6; ++up) {
        size_t slash = dir.find_last_of(L"\\/");
        if (slash == std::wstring::npos) break;
        dir.resize(slash);
        const std::wstring candidate = dir + L"\\skin\\";
        if (GetFileAttributesW((candidate + L"install_0.png").c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
    }
    return L"Z:\\work\\main\\skin\\";
}

std::wstring SkinImage(const std::wstring& name) { return SkinDir() + name; }

void Recorder::Notify(TNotifyRecord& msg) {
    seen.push_back(Seen{msg.type, msg.sender ? msg.sender->GetName() : std::wstring()});
}

int Recorder::Count(const std::wstring& type, const std::wstring& sender) const {
    int n = 0;
    for (const Seen& s : seen)
        if (s.type == type && (sender.empty() || s.sender == sender)) ++n;
    return n;
}

void MouseMove(HWND hwnd, int x, int y) { SendMessageW(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }
void MouseDown(HWND hwnd, int x, int y) { SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); }
void MouseUp(HWND hwnd, int x, int y) { SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
void Click(HWND hwnd, int x, int y) {
    MouseMove(hwnd, x, y);
    MouseDown(hwnd, x, y);
    MouseUp(hwnd, x, y);
}

void PaintInto(CPaintHostUI& host, uitest::Surface& surface) {
    host.UpdateLayout();
    RECT rc = {0, 0, surface.width(), surface.height()};
    host.PaintTree(surface.dc(), rc);
}

void MaybeSave(const uitest::Surface& surface, const wchar_t* name) {
    wchar_t flag[8] = {};
    if (GetEnvironmentVariableW(L"OV_UI_SHOTS", flag, 8) == 0) return;
    surface.SavePng(uitest::TempPath(name));
}

}  // namespace ctltest
