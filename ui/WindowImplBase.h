#pragma once
// WindowImplBase: a skinned window without system frame. On WM_CREATE it opens
// the skin source, builds the control tree, attaches it to its paint manager
// and calls PrepareWindow. The layout's caption band drags the window, its
// round-corner size gives the window region, Escape closes it with result 1,
// and notifications are routed by type and sender name (OnClick handles the
// standard close/minimise/maximise/restore buttons). Everything the layout
// gives in pixels is drawn at the window's display scale (PaintHost.h).
// A layout that cannot be built fails the creation (Create returns null,
// LayoutFailed says why); ending the program is the caller's decision.
//
// Threads: the UI thread that created the window.
// Ownership: the paint manager (a member) owns the control tree; the shadow
// window, when one exists, deletes itself with its owner.

#include <string>

#include "ui/NotifyPump.h"
#include "ui/PaintHost.h"
#include "ui/UIDefine.h"
#include "ui/WindowWnd.h"

class CWndShadow;
class WindowImplBase;

// Builds the control tree for a window from its skin (installed by the layout
// builder). Without one, windows must override BuildRoot.
using LayoutBuildProc = CControlUI* (*)(WindowImplBase& window);
void SetLayoutBuilder(LayoutBuildProc proc);

// Tells the user that the skin could not be loaded (a modal system box), for
// a program that ends because its window's layout failed.
void ShowLayoutFailure();

class WindowImplBase : public CWindowWnd,
                       public CNotifyPump,
                       public INotifyUI,
                       public IMessageFilterUI,
                       public IDialogBuilderCallback {
public:
    // Where the skin comes from (SkinSource).
    enum SkinKind { kSkinFile = 1, kSkinZipFile = 2, kSkinResource = 3, kSkinZipResource = 4 };

    WindowImplBase();
    ~WindowImplBase() override;

    HWND Create(HWND parent, const wchar_t* title, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU menu = nullptr) override;
    UINT ClassStyle() const override { return CS_DBLCLKS; }
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnWindowDestroyed(HWND hwnd) override;

    virtual void PrepareWindow() {}
    virtual void OnClick(TNotifyRecord& msg);
    virtual std::wstring SkinFolder() = 0;
    virtual std::wstring SkinFile() = 0;
    // Escape closes with 1 and is handled; every other key is not.
    virtual bool OnDefaultKey(WPARAM key);
    virtual int SkinSource() const { return kSkinZipResource; }
    virtual std::wstring SkinArchiveName() const { return std::wstring(); }
    virtual const wchar_t* SkinResourceId() const { return MAKEINTRESOURCEW(150); }

    virtual LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcActivate(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcCalcSize(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcPaint(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcLButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcHitTest(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnGetMinMaxInfo(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnMouseWheel(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnMouseHover(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSize(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnChar(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSysCommand(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnKeyDown(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnKillFocus(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSetFocus(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnLButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnLButtonUp(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnMove(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnShowWindow(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LONG WindowStyle() const;
    // WM_DPICHANGED (the window went to a screen of another scale): the tree
    // is laid out, its fonts and images made again at the new dpi, and the
    // window takes the rectangle the system suggests.
    virtual LRESULT OnDpiChanged(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);

    void Notify(TNotifyRecord& msg) override;
    LRESULT MessageFilter(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    CControlUI* CreateCustomControl(const wchar_t* className) override { return nullptr; }

    CPaintHostUI& PaintHost() { return paintHost_; }
    // True once a creation failed because the skin's layout could not be built.
    bool LayoutFailed() const { return layoutFailed_; }
    // The hit-test rule of the caption band: true when `control` and all its
    // ancestors are of the draggable classes (or there is no control).
    static bool IsDraggable(const CControlUI* control);

protected:
    // Builds the control tree; the default asks the installed layout builder.
    virtual CControlUI* BuildRoot();
    // Creates the drop shadow when the layout asks for one (a window whose
    // platform lacks layered windows simply has none).
    virtual void CreateShadow();

    CPaintHostUI paintHost_;
    CWndShadow* shadow_ = nullptr;
    bool layoutFailed_ = false;

    OV_DECLARE_NOTIFY_MAP()
};
