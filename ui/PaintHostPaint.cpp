// Layout and painting: pending layout passes over the tree, WM_PAINT through
// the off-screen bitmap, and WM_PRINTCLIENT for whoever captures the window.
#include "ui/PaintHost.h"

#include "ui/Container.h"
#include "ui/Control.h"
#include "ui/Render.h"

void CPaintHostUI::Invalidate(const RECT& rc) {
    if (window_) InvalidateRect(window_, &rc, FALSE);
}

CControlUI* CPaintHostUI::FindControlFromUpdate(CControlUI* control, void*) {
    return control->IsUpdateNeeded() ? control : nullptr;
}

void CPaintHostUI::UpdateLayout() {
    if (!root_ || !needLayout_) return;
    needLayout_ = false;
    RECT client = {0, 0, initSize_.cx, initSize_.cy};
    if (window_) GetClientRect(window_, &client);
    if (!render::IsEmpty(client)) {
        if (root_->IsUpdateNeeded()) {
            root_->SetPosition(client);
        } else {
            // Each pass clears one control's flag; the bound only guards
            // against a control that never clears it.
            for (int guard = 0; guard < 100000; ++guard) {
                CControlUI* c = root_->Lookup(FindControlFromUpdate, nullptr, UIFIND_VISIBLE | UIFIND_ME_FIRST);
                if (!c) break;
                CControlUI* parent = c->GetParent();
                CContainerUI* container =
                    parent ? static_cast<CContainerUI*>(parent->AsInterface(L"Container")) : nullptr;
                // A floating control is placed by its parent from its offset
                // and size; laying it out over its old rectangle would undo a
                // size change.
                if (c->IsFloat() && container)
                    container->PlaceFloatChild(container->GetItemIndex(c));
                else
                    c->SetPosition(c->GetPosition());
                if (c->IsUpdateNeeded()) c->SetPosition(c->GetPosition());
            }
        }
    }
    if (firstLayout_) {
        firstLayout_ = false;
        RaiseNotification(root_, L"windowinit");
    }
}

void CPaintHostUI::PaintTree(HDC dc, const RECT& rc) {
    UpdateLayout();
    if (root_) root_->Paint(dc, rc);
    PaintFocusCue(dc);
}

void CPaintHostUI::DoPaint() {
    UpdateLayout();
    // No control takes the focus by itself: with nothing focused, Enter and
    // Space do nothing until the user picks a control (Tab or the mouse).
    needFocus_ = false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window_, &ps);
    if (!dc) return;
    if (!root_ || render::IsEmpty(ps.rcPaint)) {
        EndPaint(window_, &ps);
        return;
    }
    bool painted = false;
    if (offscreen_) {
        SIZE client = GetClientSize();
        if (!offscreenBitmap_ || offscreenSize_.cx != client.cx || offscreenSize_.cy != client.cy) {
            if (offscreenBitmap_) DeleteObject(offscreenBitmap_);
            offscreenBitmap_ = CreateCompatibleBitmap(dc, client.cx, client.cy);
            offscreenSize_ = client;
        }
        HDC mem = offscreenBitmap_ ? CreateCompatibleDC(dc) : nullptr;
        if (mem) {
            HGDIOBJ old = SelectObject(mem, offscreenBitmap_);
            root_->Paint(mem, ps.rcPaint);
            PaintFocusCue(mem);
            BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                   ps.rcPaint.bottom - ps.rcPaint.top, mem, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
            SelectObject(mem, old);
            DeleteDC(mem);
            painted = true;
        }
    }
    if (!painted) {
        root_->Paint(dc, ps.rcPaint);
        PaintFocusCue(dc);
    }
    EndPaint(window_, &ps);
}

void CPaintHostUI::PrintClient(HDC dc, LPARAM flags) {
    RECT client;
    GetClientRect(window_, &client);
    PaintTree(dc, client);
    if (!(flags & PRF_CHILDREN)) return;
    for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        RECT rc;
        GetWindowRect(child, &rc);
        MapWindowPoints(HWND_DESKTOP, window_, reinterpret_cast<POINT*>(&rc), 2);
        POINT old;
        SetWindowOrgEx(dc, -rc.left, -rc.top, &old);
        SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(dc), flags | PRF_NONCLIENT);
        SetWindowOrgEx(dc, old.x, old.y, nullptr);
    }
}
