#pragma once
// Types shared by every part of the UI toolkit: control events, notification
// records, the small interfaces windows implement, and lookup/control flags.
// Everything here is used on the UI thread of the window that owns it.

#include <windows.h>

#include <string>

class CControlUI;
class CPaintHostUI;

// Kinds of control events the paint manager delivers (TEventUI::type).
enum UIEventKind {
    UIEVENT_KEYDOWN = 3,
    UIEVENT_KEYUP = 4,
    UIEVENT_CHAR = 5,
    UIEVENT_MOUSEMOVE = 9,
    UIEVENT_MOUSELEAVE = 10,
    UIEVENT_MOUSEENTER = 11,
    UIEVENT_MOUSEHOVER = 12,
    UIEVENT_BUTTONDOWN = 13,
    UIEVENT_BUTTONUP = 14,
    UIEVENT_RBUTTONDOWN = 15,
    UIEVENT_DBLCLICK = 16,
    UIEVENT_CONTEXTMENU = 17,
    UIEVENT_SCROLLWHEEL = 18,
    UIEVENT_KILLFOCUS = 20,
    UIEVENT_SETFOCUS = 21,
    UIEVENT_WINDOWSIZE = 22,
    UIEVENT_SETCURSOR = 23,
    UIEVENT_TIMER = 24,
};

// First and last kinds of the mouse and keyboard event groups, for controls
// that treat a whole group alike (for example passing it to their parent).
inline bool IsMouseEvent(int kind) { return kind >= UIEVENT_MOUSEMOVE && kind <= UIEVENT_SCROLLWHEEL; }
inline bool IsKeyEvent(int kind) { return kind >= UIEVENT_KEYDOWN && kind <= UIEVENT_CHAR; }

// Flags of CControlUI::Lookup. A container also honours TOP_FIRST (children
// from last to first, so the topmost drawn child wins) and ME_FIRST.
enum : UINT {
    UIFIND_ALL = 0x00000000,
    UIFIND_VISIBLE = 0x00000001,
    UIFIND_ENABLED = 0x00000002,
    UIFIND_HITTEST = 0x00000004,
    UIFIND_TOP_FIRST = 0x00000008,
    UIFIND_ME_FIRST = 0x80000000,
};

// Bits answered by CControlUI::GetControlFlags.
enum : UINT {
    UIFLAG_TABSTOP = 0x00000001,
    UIFLAG_SETCURSOR = 0x00000002,
    UIFLAG_WANTRETURN = 0x00000004,
};

// One control event. `sender` is the control the event is delivered to.
struct TEventUI {
    int type = 0;
    CControlUI* sender = nullptr;
    DWORD timestamp = 0;
    POINT ptMouse = {0, 0};
    wchar_t key = 0;
    WORD keyState = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// One notification as handed to INotifyUI::Notify. The parameters keep the
// native pointer width so that a notification may carry a pointer safely.
struct TNotifyRecord {
    std::wstring type;
    std::wstring virtualWnd;
    CControlUI* sender = nullptr;
    DWORD timestamp = 0;
    POINT ptMouse = {0, 0};
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class INotifyUI {
public:
    virtual void Notify(TNotifyRecord& msg) = 0;

protected:
    ~INotifyUI() = default;
};

class IMessageFilterUI {
public:
    virtual LRESULT MessageFilter(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) = 0;

protected:
    ~IMessageFilterUI() = default;
};

class ITranslateAccelerator {
public:
    virtual LRESULT TranslateAccelerator(MSG* msg) = 0;

protected:
    ~ITranslateAccelerator() = default;
};

// Implemented by windows so that the layout builder can create controls that
// only the window knows by class name.
class IDialogBuilderCallback {
public:
    virtual CControlUI* CreateCustomControl(const wchar_t* className) = 0;

protected:
    ~IDialogBuilderCallback() = default;
};

// Visitor of CControlUI::Lookup.
using FindControlProc = CControlUI* (*)(CControlUI* control, void* data);

// Plug-in creation function: returns a new control for a class name it knows.
using CreateControlProc = CControlUI* (*)(const wchar_t* className);
