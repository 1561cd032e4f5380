#pragma once
// CWndShadow: the soft drop shadow of a frameless window. A layered,
// click-through popup owned by the window sits behind its edges and shows a
// computed translucent border; it follows the owner by subclassing the
// owner's window procedure (move, size, show, hide, minimise, destroy).
//
// Threads: UI thread of the owner only; the owner table is process-wide but
// touched on that thread alone.
// Ownership: after a successful Create the object belongs to its owner window
// and deletes itself when the owner is destroyed (WM_NCDESTROY). Before that
// (or when Create fails) whoever made it deletes it.

#include <windows.h>

#include <cstdint>
#include <vector>

class CWndShadow {
public:
    CWndShadow() = default;
    virtual ~CWndShadow();

    // Resolves UpdateLayeredWindow from USER32.DLL and registers the
    // "OvShadowWnd" class; false when the platform has no layered windows
    // (then no shadow is ever created). A second call does nothing more.
    static bool Initialize(HINSTANCE instance);
    static bool IsAvailable();
    // The shadow of `owner`, or null.
    static CWndShadow* FromOwner(HWND owner);

    // Creates the (hidden) shadow window for `owner` and starts following
    // it; null when layered windows are unavailable or creation failed.
    HWND Create(HWND owner);
    HWND GetHWND() const { return wnd_; }
    // The extent in window pixels (the design extent at the owner's scale).
    int GetSize() const;
    // The owner's display scale; the next update draws the shadow for it.
    void SetDpi(int dpi);

    // Base alpha of each ring from the outermost inwards.
    static std::vector<int> RingAlphas(int n);
    // Draws the shadow into `pixels` (width x height premultiplied
    // 0xAARRGGBB values, rows from the top; must be zero-filled): rings of
    // `n` pixels, darker at the sides and bottom, fading towards the corners.
    // The last row stays empty. `rgb` is 0x00RRGGBB.
    static void DrawShadow(uint32_t* pixels, int width, int height, int n, DWORD rgb);

private:
    enum : BYTE { kEnabled = 1, kShown = 2, kOwnerVisible = 4 };

    static LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static void CALLBACK TimerProc(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);
    LRESULT HandleOwnerMessage(HWND owner, UINT msg, WPARAM wParam, LPARAM lParam);
    void Show(HWND owner);
    void Update(HWND owner);

    HWND wnd_ = nullptr;
    // Design pixels, drawn at dpi_.
    signed char size_ = 14;
    signed char xOffset_ = 0, yOffset_ = 0;
    int dpi_ = 96;
    WORD lastWidth_ = 0, lastHeight_ = 0;
    DWORD color_ = 0x505050;
    bool updatePending_ = false;
    BYTE status_ = 0;
    DWORD mode_ = 0;  // shadow on all four sides
    WNDPROC prevProc_ = nullptr;

    CWndShadow(const CWndShadow&) = delete;
    CWndShadow& operator=(const CWndShadow&) = delete;
};
