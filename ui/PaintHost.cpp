#include "ui/PaintHost.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/CommonControls.h"
#include "ui/Container.h"
#include "ui/Control.h"
#include "ui/Render.h"
#include "ui/SkinResources.h"

namespace {

// Posted to drain the delayed cleanup queue and the delayed notifications.
const UINT kMsgDelayed = WM_APP + 1;
// WM_COMMAND and friends are reflected to the child that sent them at this offset.
const UINT kReflectBase = 0x2000;

std::vector<CPaintHostUI*>& Managers() {
    static std::vector<CPaintHostUI*> list;
    return list;
}

std::vector<CreateControlProc>& Plugins() {
    static std::vector<CreateControlProc> list;
    return list;
}

struct Hsl {
    bool use = false;
    short h = 180, s = 100, l = 100;
};
Hsl& HslState() {
    static Hsl hsl;
    return hsl;
}

template <class T>
bool AddUnique(std::vector<T*>& list, T* item) {
    if (!item || std::find(list.begin(), list.end(), item) != list.end()) return false;
    list.push_back(item);
    return true;
}

template <class T>
bool RemoveItem(std::vector<T*>& list, T* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

}  // namespace

CPaintHostUI::CPaintHostUI() {
    LOGFONTW lf = {};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    lf.lfCharSet = DEFAULT_CHARSET;
    defaultFont_.font = CreateFontIndirectW(&lf);
    ownDefaultFont_ = defaultFont_.font != nullptr;
    if (!defaultFont_.font) defaultFont_.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    defaultFont_.name = lf.lfFaceName;
    defaultFont_.size = -lf.lfHeight;
    defaultFont_.bold = lf.lfWeight >= FW_BOLD;
}

CPaintHostUI::~CPaintHostUI() {
    RemoveAllTimers();
    RemoveItem(Managers(), this);
    CControlUI* root = root_;
    root_ = nullptr;
    focus_ = hot_ = pushed_ = keyPressed_ = tooltipOwner_ = nullptr;
    delete root;
    // Deleting a container queues its children here again, so drain until
    // nothing is left.
    while (!delayedCleanup_.empty()) {
        std::vector<CControlUI*> cleanup;
        cleanup.swap(delayedCleanup_);
        for (CControlUI* c : cleanup) delete c;
    }
    if (tooltip_) DestroyWindow(tooltip_);
    if (offscreenBitmap_) DeleteObject(offscreenBitmap_);
    RemoveAllImages();
    FreeFonts();
    if (ownDefaultFont_) DeleteObject(defaultFont_.font);
    if (windowDC_) ReleaseDC(window_, windowDC_);
}

void CPaintHostUI::Init(HWND window) {
    if (windowDC_) ReleaseDC(window_, windowDC_);
    window_ = window;
    windowDC_ = window ? GetDC(window) : nullptr;
    AddUnique(Managers(), this);
}

SIZE CPaintHostUI::GetClientSize() const {
    RECT rc = {0, 0, 0, 0};
    if (window_) GetClientRect(window_, &rc);
    return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

void CPaintHostUI::SetInitSize(int cx, int cy) {
    initSize_ = SIZE{cx, cy};
    if (!root_ && window_) SetWindowPos(window_, nullptr, 0, 0, cx, cy, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

void CPaintHostUI::SetMinInfo(int cx, int cy) {
    if (cx >= 0 && cy >= 0) minInfo_ = SIZE{cx, cy};
}

void CPaintHostUI::SetMaxInfo(int cx, int cy) {
    if (cx >= 0 && cy >= 0) maxInfo_ = SIZE{cx, cy};
}

// ---- fonts ------------------------------------------------------------------

TFontInfo CPaintHostUI::MakeFont(const std::wstring& name, int size, bool bold, bool underline, bool italic) {
    TFontInfo info;
    LOGFONTW lf = {};
    GetObjectW(defaultFont_.font, sizeof(lf), &lf);
    if (!name.empty()) lstrcpynW(lf.lfFaceName, name.c_str(), LF_FACESIZE);
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfHeight = -size;
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = underline ? TRUE : FALSE;
    lf.lfItalic = italic ? TRUE : FALSE;
    info.font = CreateFontIndirectW(&lf);
    info.name = name;
    info.size = size;
    info.bold = bold;
    info.underline = underline;
    info.italic = italic;
    return info;
}

int CPaintHostUI::AddFont(const std::wstring& name, int size, bool bold, bool underline, bool italic) {
    TFontInfo info = MakeFont(name, size, bold, underline, italic);
    if (!info.font) return -1;
    fonts_.push_back(info);
    return static_cast<int>(fonts_.size()) - 1;
}

HFONT CPaintHostUI::GetFont(int index) {
    if (index < 0 || index >= GetFontCount()) return defaultFont_.font;
    return fonts_[static_cast<size_t>(index)].font;
}

namespace {
void FillMetrics(TFontInfo& info, HDC dc) {
    if (info.tm.tmHeight != 0 || !info.font) return;
    HDC use = dc ? dc : GetDC(nullptr);
    if (!use) return;
    HGDIOBJ old = SelectObject(use, info.font);
    GetTextMetricsW(use, &info.tm);
    SelectObject(use, old);
    if (!dc) ReleaseDC(nullptr, use);
}
}  // namespace

const TFontInfo* CPaintHostUI::GetFontInfo(int index) {
    if (index < 0 || index >= GetFontCount()) return GetDefaultFontInfo();
    TFontInfo& info = fonts_[static_cast<size_t>(index)];
    FillMetrics(info, windowDC_);
    return &info;
}

void CPaintHostUI::SetDefaultFont(const std::wstring& name, int size, bool bold, bool underline, bool italic) {
    TFontInfo info = MakeFont(name, size, bold, underline, italic);
    if (!info.font) return;
    if (ownDefaultFont_) DeleteObject(defaultFont_.font);
    defaultFont_ = info;
    ownDefaultFont_ = true;
}

const TFontInfo* CPaintHostUI::GetDefaultFontInfo() {
    FillMetrics(defaultFont_, windowDC_);
    return &defaultFont_;
}

void CPaintHostUI::FreeFonts() {
    for (TFontInfo& f : fonts_)
        if (f.font) DeleteObject(f.font);
    fonts_.clear();
}

// ---- images, defaults, option groups ---------------------------------------------

const TImageInfo* CPaintHostUI::GetImage(const std::wstring& name) {
    auto it = images_.find(name);
    return it == images_.end() ? nullptr : it->second;
}

const TImageInfo* CPaintHostUI::GetImageEx(const std::wstring& name, const wchar_t* resType, DWORD mask) {
    if (const TImageInfo* image = GetImage(name)) return image;
    return AddImage(name, resType, mask);
}

const TImageInfo* CPaintHostUI::AddImage(const std::wstring& name, const wchar_t* resType, DWORD mask) {
    if (name.empty()) return nullptr;
    TImageInfo* image = LoadSkinImage(name, resType, mask);
    if (!image) return nullptr;
    auto it = images_.find(name);
    if (it != images_.end()) FreeImage(it->second);
    images_[name] = image;
    return image;
}

void CPaintHostUI::RemoveImage(const std::wstring& name) {
    auto it = images_.find(name);
    if (it == images_.end()) return;
    FreeImage(it->second);
    images_.erase(it);
}

void CPaintHostUI::RemoveAllImages() {
    for (auto& kv : images_) FreeImage(kv.second);
    images_.clear();
}

void CPaintHostUI::AddDefaultAttributeList(const std::wstring& className, const std::wstring& list) {
    defaultAttributes_[className] = list;
}

const wchar_t* CPaintHostUI::GetDefaultAttributeList(const std::wstring& className) const {
    auto it = defaultAttributes_.find(className);
    return it == defaultAttributes_.end() ? nullptr : it->second.c_str();
}

bool CPaintHostUI::AddOptionGroup(const std::wstring& group, CControlUI* control) {
    if (group.empty() || !control) return false;
    return AddUnique(optionGroups_[group], control);
}

const std::vector<CControlUI*>* CPaintHostUI::GetOptionGroup(const std::wstring& group) const {
    auto it = optionGroups_.find(group);
    return it == optionGroups_.end() ? nullptr : &it->second;
}

void CPaintHostUI::RemoveOptionGroup(const std::wstring& group, CControlUI* control) {
    auto it = optionGroups_.find(group);
    if (it == optionGroups_.end()) return;
    RemoveItem(it->second, control);
    if (it->second.empty()) optionGroups_.erase(it);
}

// ---- the tree ---------------------------------------------------------------

bool CPaintHostUI::AttachRoot(CControlUI* root) {
    if (!root) return false;
    SetFocus(nullptr);
    hot_ = pushed_ = keyPressed_ = nullptr;
    HideToolTip();
    if (root_ && root_ != root) AddDelayedCleanup(root_);
    root_ = root;
    needLayout_ = firstLayout_ = needFocus_ = true;
    InitControls(root);
    if (window_) InvalidateRect(window_, nullptr, FALSE);
    return true;
}

bool CPaintHostUI::InitControls(CControlUI* control, CControlUI* parent) {
    if (!control) return false;
    control->Attach(this, parent ? parent : control->GetParent(), true);
    control->Lookup(FindControlFromNameRegistration, this, UIFIND_ALL);
    return true;
}

CControlUI* CPaintHostUI::FindControlFromNameRegistration(CControlUI* control, void* data) {
    CPaintHostUI* self = static_cast<CPaintHostUI*>(data);
    const std::wstring& name = control->GetName();
    if (!name.empty() && self->names_.find(name) == self->names_.end()) self->names_[name] = control;
    return nullptr;
}

void CPaintHostUI::ReapObjects(CControlUI* control) {
    if (!control) return;
    // Only pointer comparisons here: this runs from control destructors.
    if (focus_ == control) focus_ = nullptr;
    if (hot_ == control) hot_ = nullptr;
    if (pushed_ == control) pushed_ = nullptr;
    if (keyPressed_ == control) keyPressed_ = nullptr;
    if (tooltipOwner_ == control) HideToolTip();
    KillTimer(control);
    for (auto it = names_.begin(); it != names_.end();) {
        if (it->second == control)
            it = names_.erase(it);
        else
            ++it;
    }
    delayedNotifications_.erase(std::remove_if(delayedNotifications_.begin(), delayedNotifications_.end(),
                                               [control](const TNotifyRecord& r) { return r.sender == control; }),
                                delayedNotifications_.end());
    for (auto it = optionGroups_.begin(); it != optionGroups_.end();) {
        RemoveItem(it->second, control);
        if (it->second.empty())
            it = optionGroups_.erase(it);
        else
            ++it;
    }
}

void CPaintHostUI::AddDelayedCleanup(CControlUI* control) {
    if (!control) return;
    control->Attach(this, nullptr, false);
    delayedCleanup_.push_back(control);
    if (window_) PostMessageW(window_, kMsgDelayed, 0, 0);
}

CControlUI* CPaintHostUI::FindByName(const std::wstring& name) const {
    auto it = names_.find(name);
    return it == names_.end() ? nullptr : it->second;
}

CControlUI* CPaintHostUI::FindControlFromPoint(CControlUI* control, void*) { return control; }

CControlUI* CPaintHostUI::FindControl(POINT pt) const {
    if (!root_) return nullptr;
    return root_->Lookup(FindControlFromPoint, &pt, UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST);
}

// ---- focus, capture ---------------------------------------------------------

void CPaintHostUI::SetFocus(CControlUI* control) {
    if (window_ && ::GetFocus() != window_ && control != focus_) ::SetFocus(window_);
    if (control == focus_) return;
    if (focus_) {
        CControlUI* old = focus_;
        focus_ = nullptr;
        SendEvent(old, UIEVENT_KILLFOCUS);
        RaiseNotification(old, L"killfocus");
    }
    if (!control || control->GetManager() != this || !control->IsVisible() || !control->IsEnabled()) return;
    focus_ = control;
    SendEvent(control, UIEVENT_SETFOCUS);
    if (focus_ == control) RaiseNotification(control, L"setfocus");
}

void CPaintHostUI::SetFocusNeeded(CControlUI* control) {
    if (window_) ::SetFocus(window_);
    if (!control) return;
    SetFocus(nullptr);
    needFocus_ = true;
    if (window_) InvalidateRect(window_, nullptr, FALSE);
}

namespace {
struct TabSearch {
    std::vector<CControlUI*> found;
};
}  // namespace

CControlUI* CPaintHostUI::FindControlFromTab(CControlUI* control, void* data) {
    if (control->GetControlFlags() & UIFLAG_TABSTOP) static_cast<TabSearch*>(data)->found.push_back(control);
    return nullptr;
}

bool CPaintHostUI::SetNextTabControl(bool forward) {
    if (!root_) return false;
    TabSearch search;
    root_->Lookup(FindControlFromTab, &search, UIFIND_VISIBLE | UIFIND_ENABLED | UIFIND_ME_FIRST);
    if (search.found.empty()) return false;
    auto& f = search.found;
    auto it = std::find(f.begin(), f.end(), focus_);
    CControlUI* next;
    if (it == f.end())
        next = forward ? f.front() : f.back();
    else if (forward)
        next = (it + 1 == f.end()) ? f.front() : *(it + 1);
    else
        next = (it == f.begin()) ? f.back() : *(it - 1);
    SetFocus(next);
    return true;
}

void CPaintHostUI::SetCapture() {
    if (window_) ::SetCapture(window_);
    captured_ = true;
}

void CPaintHostUI::ReleaseCapture() {
    if (captured_) ::ReleaseCapture();
    captured_ = false;
}

// ---- timers -------------------------------------------------------------------

bool CPaintHostUI::SetTimer(CControlUI* control, UINT id, UINT elapse) {
    if (!control || !window_) return false;
    for (Timer& t : timers_) {
        if (t.control == control && t.localId == id && t.window == window_) {
            t.killed = false;
            return ::SetTimer(window_, t.nativeId, elapse, nullptr) != 0;
        }
    }
    // Native ids stay within 16 bits: WM_TIMER is matched on the low word.
    UINT_PTR native = nextTimerId_;
    nextTimerId_ = nextTimerId_ >= 0xF000 ? 0x1000 : nextTimerId_ + 1;
    if (!::SetTimer(window_, native, elapse, nullptr)) return false;
    timers_.push_back(Timer{control, id, window_, native, false});
    return true;
}

bool CPaintHostUI::KillTimer(CControlUI* control, UINT id) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->control == control && it->localId == id) {
            if (!it->killed && it->window) ::KillTimer(it->window, it->nativeId);
            timers_.erase(it);
            return true;
        }
    }
    return false;
}

void CPaintHostUI::KillTimer(CControlUI* control) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->control == control) {
            if (!it->killed && it->window) ::KillTimer(it->window, it->nativeId);
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

void CPaintHostUI::RemoveAllTimers() {
    for (Timer& t : timers_)
        if (!t.killed && t.window && IsWindow(t.window)) ::KillTimer(t.window, t.nativeId);
    timers_.clear();
}

// ---- notifiers and filters ------------------------------------------------------

bool CPaintHostUI::AddNotifier(INotifyUI* n) { return AddUnique(notifiers_, n); }
bool CPaintHostUI::RemoveNotifier(INotifyUI* n) { return RemoveItem(notifiers_, n); }
bool CPaintHostUI::AddPreMessageFilter(IMessageFilterUI* f) { return AddUnique(preFilters_, f); }
bool CPaintHostUI::RemovePreMessageFilter(IMessageFilterUI* f) { return RemoveItem(preFilters_, f); }
bool CPaintHostUI::AddMessageFilter(IMessageFilterUI* f) { return AddUnique(filters_, f); }
bool CPaintHostUI::RemoveMessageFilter(IMessageFilterUI* f) { return RemoveItem(filters_, f); }
bool CPaintHostUI::AddTranslateAccelerator(ITranslateAccelerator* t) { return AddUnique(translators_, t); }
bool CPaintHostUI::RemoveTranslateAccelerator(ITranslateAccelerator* t) { return RemoveItem(translators_, t); }

void CPaintHostUI::RaiseNotification(TNotifyRecord& msg, bool delayed) {
    msg.ptMouse = lastMouse_;
    msg.timestamp = GetTickCount();
    if (usedVirtualWnd_ && msg.sender) msg.virtualWnd = msg.sender->GetVirtualWnd();
    if (delayed) {
        delayedNotifications_.push_back(msg);
        if (window_) PostMessageW(window_, kMsgDelayed, 0, 0);
        return;
    }
    Deliver(msg);
}

void CPaintHostUI::Deliver(TNotifyRecord& msg) {
    if (msg.sender) {
        // A copy: a listener may change the control's listener list.
        std::vector<ControlListener> listeners = msg.sender->OnNotifyListeners;
        for (auto& l : listeners) l(&msg);
    }
    // A copy too, and a notifier removed meanwhile is skipped.
    std::vector<INotifyUI*> notifiers = notifiers_;
    for (INotifyUI* n : notifiers)
        if (std::find(notifiers_.begin(), notifiers_.end(), n) != notifiers_.end()) n->Notify(msg);
}

void CPaintHostUI::RaiseNotification(CControlUI* sender, const wchar_t* type, WPARAM wParam, LPARAM lParam,
                                     bool delayed) {
    TNotifyRecord msg;
    msg.sender = sender;
    msg.type = type ? type : L"";
    msg.wParam = wParam;
    msg.lParam = lParam;
    RaiseNotification(msg, delayed);
}

void CPaintHostUI::DeliverDelayedNotifications() {
    while (!delayedNotifications_.empty()) {
        TNotifyRecord msg = delayedNotifications_.front();
        delayedNotifications_.erase(delayedNotifications_.begin());
        Deliver(msg);
    }
}

// ---- layout and painting -----------------------------------------------------

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
}

void CPaintHostUI::DoPaint() {
    UpdateLayout();
    if (needFocus_) {
        needFocus_ = false;
        SetNextTabControl();
    }
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
            BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                   ps.rcPaint.bottom - ps.rcPaint.top, mem, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
            SelectObject(mem, old);
            DeleteDC(mem);
            painted = true;
        }
    }
    if (!painted) root_->Paint(dc, ps.rcPaint);
    EndPaint(window_, &ps);
}

// ---- tooltips -------------------------------------------------------------------

void CPaintHostUI::ShowToolTip(CControlUI* control) {
    if (!window_ || !control || control->GetToolTip().empty()) return;
    if (!tooltip_) {
        EnsureCommonControls(ICC_WIN95_CLASSES);
        tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                                   CSkinResources::Instance(), nullptr);
        if (!tooltip_) return;
    }
    tooltipText_ = control->GetToolTip();
    TTTOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    ti.hwnd = window_;
    ti.uId = reinterpret_cast<UINT_PTR>(window_);
    ti.lpszText = &tooltipText_[0];
    ti.rect = control->GetPosition();
    if (!tooltipAdded_) {
        tooltipAdded_ = SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)) != FALSE;
        if (!tooltipAdded_) return;
    } else {
        SendMessageW(tooltip_, TTM_SETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti));
        SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, control->GetToolTipWidth());
    // Just below the cursor, like the system's own tips.
    POINT pt;
    if (!GetCursorPos(&pt)) {
        pt = POINT{control->GetPosition().left, control->GetPosition().bottom};
        ClientToScreen(window_, &pt);
    }
    SendMessageW(tooltip_, TTM_TRACKPOSITION, 0, MAKELPARAM(pt.x, pt.y + 20));
    SendMessageW(tooltip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
    tooltipOwner_ = control;
}

void CPaintHostUI::HideToolTip() {
    tooltipOwner_ = nullptr;
    if (!tooltip_ || !tooltipAdded_) return;
    TTTOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = window_;
    ti.uId = reinterpret_cast<UINT_PTR>(window_);
    SendMessageW(tooltip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
}

// ---- messages -------------------------------------------------------------------

void CPaintHostUI::SendEvent(CControlUI* control, int type, WPARAM wParam, LPARAM lParam, WORD keyState, wchar_t key) {
    if (!control) return;
    TEventUI e;
    e.type = type;
    e.sender = control;
    e.timestamp = GetTickCount();
    e.ptMouse = lastMouse_;
    e.key = key;
    e.keyState = keyState;
    e.wParam = wParam;
    e.lParam = lParam;
    control->Event(e);
}

bool CPaintHostUI::PreMessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    std::vector<IMessageFilterUI*> filters = preFilters_;
    for (IMessageFilterUI* f : filters) {
        bool handled = false;
        LRESULT r = f->MessageFilter(msg, wParam, lParam, handled);
        if (handled) {
            result = r;
            return true;
        }
    }
    return false;
}

bool CPaintHostUI::TranslateMessage(const MSG* msg) {
    if (!msg || !msg->hwnd) return false;
    for (CPaintHostUI* m : std::vector<CPaintHostUI*>(Managers())) {
        if (!m->window_) continue;
        if (msg->hwnd != m->window_ && !IsChild(m->window_, msg->hwnd)) continue;
        for (ITranslateAccelerator* t : m->translators_)
            if (t->TranslateAccelerator(const_cast<MSG*>(msg)) == S_OK) return true;
        LRESULT r = 0;
        return m->PreMessageHandler(msg->message, msg->wParam, msg->lParam, r);
    }
    return false;
}

namespace {
POINT PointFromLParam(LPARAM lParam) {
    return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}
}  // namespace

bool CPaintHostUI::MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (!window_) return false;
    DeliverDelayedNotifications();
    {
        std::vector<IMessageFilterUI*> filters = filters_;
        for (IMessageFilterUI* f : filters) {
            bool handled = false;
            LRESULT r = f->MessageFilter(msg, wParam, lParam, handled);
            if (handled) {
                result = r;
                return true;
            }
        }
    }
    bool claimed = false;
    switch (msg) {
        case kMsgDelayed: {
            std::vector<CControlUI*> cleanup;
            cleanup.swap(delayedCleanup_);
            for (CControlUI* c : cleanup) delete c;
            result = 0;
            claimed = true;
            break;
        }
        case WM_PAINT:
            DoPaint();
            result = 0;
            claimed = true;
            break;
        case WM_PRINTCLIENT: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            RECT client;
            GetClientRect(window_, &client);
            PaintTree(dc, client);
            if (lParam & PRF_CHILDREN) {
                for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                    if (!IsWindowVisible(child)) continue;
                    RECT rc;
                    GetWindowRect(child, &rc);
                    MapWindowPoints(HWND_DESKTOP, window_, reinterpret_cast<POINT*>(&rc), 2);
                    POINT old;
                    SetWindowOrgEx(dc, -rc.left, -rc.top, &old);
                    SendMessageW(child, WM_PRINT, wParam, lParam | PRF_NONCLIENT);
                    SetWindowOrgEx(dc, old.x, old.y, nullptr);
                }
            }
            result = 0;
            claimed = true;
            break;
        }
        case WM_SIZE:
            if (focus_) SendEvent(focus_, UIEVENT_WINDOWSIZE);
            if (root_) root_->RequestLayout();
            needLayout_ = true;
            break;
        case WM_ERASEBKGND:
            result = 1;
            claimed = true;
            break;
        case WM_CLOSE: {
            if (hot_) {
                CControlUI* hot = hot_;
                hot_ = nullptr;
                SendEvent(hot, UIEVENT_MOUSELEAVE);
            }
            if (pushed_) {
                CControlUI* pushed = pushed_;
                pushed_ = nullptr;
                ReleaseCapture();
                SendEvent(pushed, UIEVENT_BUTTONUP);
            }
            SetFocus(nullptr);
            HWND owner = GetWindow(window_, GW_OWNER);
            if (owner) ::SetFocus(owner);
            break;
        }
        case WM_GETMINMAXINFO: {
            MINMAXINFO* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
            if (minInfo_.cx > 0) mmi->ptMinTrackSize.x = minInfo_.cx;
            if (minInfo_.cy > 0) mmi->ptMinTrackSize.y = minInfo_.cy;
            if (maxInfo_.cx > 0) mmi->ptMaxTrackSize.x = maxInfo_.cx;
            if (maxInfo_.cy > 0) mmi->ptMaxTrackSize.y = maxInfo_.cy;
            break;
        }
        case WM_TIMER:
            for (const Timer& t : timers_) {
                if (t.window == window_ && t.nativeId == LOWORD(wParam) && !t.killed) {
                    SendEvent(t.control, UIEVENT_TIMER, t.localId, 0);
                    claimed = true;
                    break;
                }
            }
            break;
        case WM_MOUSEHOVER: {
            mouseTracking_ = false;
            POINT pt = PointFromLParam(lParam);
            CControlUI* c = FindControl(pt);
            if (!c) break;
            if (hot_) SendEvent(hot_, UIEVENT_MOUSEHOVER, wParam, lParam);
            if (!c->GetToolTip().empty()) ShowToolTip(c);
            claimed = true;
            break;
        }
        case WM_MOUSELEAVE:
            HideToolTip();
            if (mouseTracking_) SendMessageW(window_, WM_MOUSEMOVE, 0, MAKELPARAM(-1, -1));
            mouseTracking_ = false;
            break;
        case WM_MOUSEMOVE: {
            if (!mouseTracking_) {
                TRACKMOUSEEVENT tme = {sizeof(tme), TME_HOVER | TME_LEAVE, window_, 400};
                if (tooltip_) tme.dwHoverTime = static_cast<DWORD>(SendMessageW(tooltip_, TTM_GETDELAYTIME, TTDT_INITIAL, 0));
                if (TrackMouseEvent(&tme)) mouseTracking_ = true;
            }
            POINT pt = PointFromLParam(lParam);
            lastMouse_ = pt;
            CControlUI* c = FindControl(pt);
            if (c && c->GetManager() != this) break;
            if (c != hot_) {
                CControlUI* old = hot_;
                hot_ = c;
                if (old) {
                    SendEvent(old, UIEVENT_MOUSELEAVE, wParam, lParam, static_cast<WORD>(wParam));
                    if (tooltipOwner_ == old) HideToolTip();
                }
                if (c && hot_ == c) SendEvent(c, UIEVENT_MOUSEENTER, wParam, lParam, static_cast<WORD>(wParam));
            }
            if (pushed_)
                SendEvent(pushed_, UIEVENT_MOUSEMOVE, wParam, lParam, static_cast<WORD>(wParam));
            else if (c && hot_ == c)
                SendEvent(c, UIEVENT_MOUSEMOVE, wParam, lParam, static_cast<WORD>(wParam));
            break;
        }
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN: {
            ::SetFocus(window_);
            POINT pt = PointFromLParam(lParam);
            lastMouse_ = pt;
            CControlUI* c = FindControl(pt);
            if (!c || c->GetManager() != this) break;
            pushed_ = c;
            SetFocus(c);
            SetCapture();
            const int kind = msg == WM_LBUTTONDOWN ? UIEVENT_BUTTONDOWN
                             : msg == WM_LBUTTONDBLCLK ? UIEVENT_DBLCLICK
                                                       : UIEVENT_RBUTTONDOWN;
            if (pushed_ == c) SendEvent(c, kind, wParam, lParam, static_cast<WORD>(wParam));
            break;
        }
        case WM_LBUTTONUP: {
            lastMouse_ = PointFromLParam(lParam);
            if (!pushed_) break;
            CControlUI* c = pushed_;
            pushed_ = nullptr;
            ReleaseCapture();
            SendEvent(c, UIEVENT_BUTTONUP, wParam, lParam, static_cast<WORD>(wParam));
            break;
        }
        case WM_CONTEXTMENU: {
            ReleaseCapture();
            if (!pushed_) break;
            CControlUI* c = pushed_;
            pushed_ = nullptr;
            SendEvent(c, UIEVENT_CONTEXTMENU, wParam, lParam);
            break;
        }
        case WM_MOUSEWHEEL: {
            POINT pt = PointFromLParam(lParam);
            ScreenToClient(window_, &pt);
            lastMouse_ = pt;
            CControlUI* c = FindControl(pt);
            if (!c || c->GetManager() != this) break;
            const short delta = static_cast<short>(HIWORD(wParam));
            SendEvent(c, UIEVENT_SCROLLWHEEL, MAKEWPARAM(delta < 0 ? SB_LINEDOWN : SB_LINEUP, 0), delta,
                      LOWORD(wParam));
            break;
        }
        case WM_SETCURSOR: {
            if (LOWORD(lParam) != HTCLIENT) break;
            POINT pt;
            GetCursorPos(&pt);
            ScreenToClient(window_, &pt);
            CControlUI* c = FindControl(pt);
            if (!c || !(c->GetControlFlags() & UIFLAG_SETCURSOR)) break;
            SendEvent(c, UIEVENT_SETCURSOR, wParam, lParam);
            result = TRUE;
            claimed = true;
            break;
        }
        case WM_KEYDOWN:
            if (!focus_) break;
            keyPressed_ = focus_;
            SendEvent(focus_, UIEVENT_KEYDOWN, wParam, lParam, 0, static_cast<wchar_t>(wParam));
            break;
        case WM_KEYUP:
            if (!keyPressed_) break;
            {
                CControlUI* c = keyPressed_;
                keyPressed_ = nullptr;
                SendEvent(c, UIEVENT_KEYUP, wParam, lParam, 0, static_cast<wchar_t>(wParam));
            }
            break;
        case WM_CHAR:
            if (!focus_) break;
            SendEvent(focus_, UIEVENT_CHAR, wParam, lParam, 0, static_cast<wchar_t>(wParam));
            break;
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC: {
            HWND child = nullptr;
            if (msg == WM_NOTIFY) {
                const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
                child = hdr ? hdr->hwndFrom : nullptr;
            } else {
                child = reinterpret_cast<HWND>(lParam);
            }
            if (!child || !IsWindow(child)) break;
            result = SendMessageW(child, msg + kReflectBase, wParam, lParam);
            claimed = true;
            break;
        }
        default:
            break;
    }
    DeliverDelayedNotifications();
    return claimed;
}

// ---- process-wide ----------------------------------------------------------------

void CPaintHostUI::AddPlugin(CreateControlProc proc) {
    if (proc && std::find(Plugins().begin(), Plugins().end(), proc) == Plugins().end()) Plugins().push_back(proc);
}
const std::vector<CreateControlProc>& CPaintHostUI::GetPlugins() { return Plugins(); }

void CPaintHostUI::SetHSL(bool use, short hue, short saturation, short lightness) {
    HslState().use = use;
    HslState().h = hue;
    HslState().s = saturation;
    HslState().l = lightness;
}
bool CPaintHostUI::IsUsingHSL() { return HslState().use; }
void CPaintHostUI::GetHSL(short* hue, short* saturation, short* lightness) {
    *hue = HslState().use ? HslState().h : 180;
    *saturation = HslState().use ? HslState().s : 100;
    *lightness = HslState().use ? HslState().l : 100;
}
