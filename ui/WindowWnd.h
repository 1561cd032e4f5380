#pragma once
// CWindowWnd: one Win32 window bound to a C++ object. It registers the window
// class on first use, creates the window, routes every message to the virtual
// HandleMessage and runs a modal loop.
//
// Threads: the thread that created the window.
// Ownership: the object does not own itself; OnWindowDestroyed is the last
// call it gets for its window (a subclass may delete itself there).

#include <windows.h>

class CWindowWnd {
public:
    CWindowWnd();
    virtual ~CWindowWnd();

    HWND GetHWND() const { return hwnd_; }
    operator HWND() const { return hwnd_; }

    // Null when the class cannot be registered or the window not created.
    virtual HWND Create(HWND parent, const wchar_t* title, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
                        int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU menu = nullptr);
    virtual void ShowWindow(bool show = true, bool takeFocus = true);
    virtual void CenterOnOwner();
    virtual const wchar_t* WindowClassName() const = 0;
    virtual const wchar_t* SuperclassName() const { return nullptr; }
    virtual UINT ClassStyle() const { return 0; }
    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    virtual void OnWindowDestroyed(HWND hwnd) {}

    // Posts WM_CLOSE carrying `result`; closing is always asynchronous.
    void Close(UINT result = IDOK);
    // Shows the window, disables its owner and runs a message loop until the
    // window is gone; returns the wParam of the last WM_CLOSE the loop saw.
    // A WM_QUIT ends the loop and is posted again for the outer loop.
    UINT RunModal();
    void Unsubclass();

    LRESULT SendMsg(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMsg(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;

protected:
    bool RegisterWindowClass();
    bool RegisterSuperclass();
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT CallPrevious(UINT msg, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    WNDPROC oldProc_;
    bool subclassed_ = false;
    bool superclassed_ = false;

private:
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;
};
