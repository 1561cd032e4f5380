#pragma once
// Helpers shared by the control, text and shadow tests: the skin folder of the
// source tree, a notifier that records notifications, and mouse and paint
// helpers that drive a test window through its paint manager.

#include <windows.h>

#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "ui/PaintHost.h"

namespace ctltest {

// "...\skin\" of the source tree (found upwards from the test program).
std::wstring SkinDir();
// `name` in the skin folder, as an image description usable from any skin state.
std::wstring SkinImage(const std::wstring& name);

struct Seen {
    std::wstring type;
    std::wstring sender;
};

class Recorder : public INotifyUI {
public:
    void Notify(TNotifyRecord& msg) override;
    int Count(const std::wstring& type, const std::wstring& sender = L"") const;
    std::vector<Seen> seen;
};

// Mouse messages in client coordinates, routed like real input.
void MouseMove(HWND hwnd, int x, int y);
void MouseDown(HWND hwnd, int x, int y);
void MouseUp(HWND hwnd, int x, int y);
void Click(HWND hwnd, int x, int y);

// Paints the window's control tree into a fresh surface of its client size.
void PaintInto(CPaintHostUI& host, uitest::Surface& surface);

// Writes `surface` under the temporary folder when OV_UI_SHOTS is set (for
// looking at what the controls draw).
void MaybeSave(const uitest::Surface& surface, const wchar_t* name);

}  // namespace ctltest
