#pragma once
// CPaintHostUI: the paint manager of one window. It hosts the window's control
// tree: lays it out and paints it on WM_PAINT, turns mouse and keyboard
// messages into control events, keeps the focus, hover and capture state and
// the control timers, and fans notifications out to the window's notifiers.
// It also keeps the per-window stores the layout builder fills (fonts, images,
// default attributes, option groups) and the window properties of the layout
// (caption band, round corners, sizes, shadow settings).
//
// The class is implemented by concern: PaintHost.cpp (lifetime, window
// properties, the control tree, notifications), PaintHostResources.cpp
// (fonts, images, defaults, option groups, process-wide settings),
// PaintHostInput.cpp (focus, capture, timers, tooltips), PaintHostPaint.cpp
// (layout and painting) and PaintHostMessages.cpp (filters and the dispatch
// of window messages).
//
// Threads: UI thread of its window only. A process-wide list of managers is
// used by TranslateMessage for pre-translation in modal loops.
// Ownership: the manager owns the attached root control (and through it the
// whole tree), the cached images and fonts, the delayed notification records
// and the controls queued for delayed cleanup.

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/ImageLoader.h"
#include "ui/UIDefine.h"

class CControlUI;

struct TFontInfo {
    HFONT font = nullptr;
    std::wstring name;
    int size = 0;
    bool bold = false, underline = false, italic = false;
    TEXTMETRICW tm = {};
};

class CPaintHostUI {
public:
    CPaintHostUI();
    ~CPaintHostUI();

    // Binds the manager to its window (takes the window DC, joins the
    // process-wide list).
    void Init(HWND window);
    HWND GetPaintWindow() const { return window_; }
    HDC GetPaintDC() const { return windowDC_; }
    POINT GetMousePos() const { return lastMouse_; }
    SIZE GetClientSize() const;

    // Window properties from the layout's root attributes.
    SIZE GetInitSize() const { return initSize_; }
    void SetInitSize(int cx, int cy);
    RECT GetSizeBox() const { return sizeBox_; }
    void SetSizeBox(const RECT& rc) { sizeBox_ = rc; }
    RECT GetCaptionRect() const { return caption_; }
    void SetCaptionRect(const RECT& rc) { caption_ = rc; }
    SIZE GetRoundCorner() const { return roundCorner_; }
    void SetRoundCorner(int cx, int cy) { roundCorner_ = SIZE{cx, cy}; }
    SIZE GetMinInfo() const { return minInfo_; }
    void SetMinInfo(int cx, int cy);
    SIZE GetMaxInfo() const { return maxInfo_; }
    void SetMaxInfo(int cx, int cy);
    bool IsLayered() const { return layered_; }
    void SetLayered(bool layered) { layered_ = layered; }
    bool IsShadow() const { return shadow_; }
    void SetShadow(bool on) { shadow_ = on; }
    bool IsSelfShadow() const { return selfShadow_; }
    void SetSelfShadow(bool on) { selfShadow_ = on; }
    const std::wstring& GetShadowImage() const { return shadowImage_; }
    void SetShadowImage(const std::wstring& image) { shadowImage_ = image; }
    RECT GetShadowBorder() const { return shadowBorder_; }
    void SetShadowBorder(const RECT& rc) { shadowBorder_ = rc; }
    SIZE GetShadowCorner() const { return shadowCorner_; }
    void SetShadowCorner(int cx, int cy) { shadowCorner_ = SIZE{cx, cy}; }
    void SetOffscreenPaint(bool on) { offscreen_ = on; }

    // Default colours (AARRGGBB).
    DWORD GetDefaultFontColor() const { return defaultFontColor_; }
    void SetDefaultFontColor(DWORD c) { defaultFontColor_ = c; }
    DWORD GetDefaultDisabledColor() const { return defaultDisabledColor_; }
    void SetDefaultDisabledColor(DWORD c) { defaultDisabledColor_ = c; }
    DWORD GetDefaultLinkFontColor() const { return defaultLinkColor_; }
    void SetDefaultLinkFontColor(DWORD c) { defaultLinkColor_ = c; }
    DWORD GetDefaultLinkHoverFontColor() const { return defaultLinkHoverColor_; }
    void SetDefaultLinkHoverFontColor(DWORD c) { defaultLinkHoverColor_ = c; }
    DWORD GetDefaultSelectedBkColor() const { return defaultSelectedColor_; }
    void SetDefaultSelectedBkColor(DWORD c) { defaultSelectedColor_ = c; }

    // Fonts: numbered from 0 in the order added. An index outside the list
    // means the default font.
    int AddFont(const std::wstring& name, int size, bool bold, bool underline, bool italic);
    int GetFontCount() const { return static_cast<int>(fonts_.size()); }
    HFONT GetFont(int index);
    const TFontInfo* GetFontInfo(int index);
    void SetDefaultFont(const std::wstring& name, int size, bool bold, bool underline, bool italic);
    const TFontInfo* GetDefaultFontInfo();

    // Image cache by name; the first load of a name decides its mask.
    const TImageInfo* GetImage(const std::wstring& name);
    const TImageInfo* GetImageEx(const std::wstring& name, const wchar_t* resType = nullptr, DWORD mask = 0);
    const TImageInfo* AddImage(const std::wstring& name, const wchar_t* resType = nullptr, DWORD mask = 0);
    void RemoveImage(const std::wstring& name);
    void RemoveAllImages();

    // Default attribute lists by control class name.
    void AddDefaultAttributeList(const std::wstring& className, const std::wstring& list);
    const wchar_t* GetDefaultAttributeList(const std::wstring& className) const;

    // Option groups (radio-like buttons), by group name.
    bool AddOptionGroup(const std::wstring& group, CControlUI* control);
    const std::vector<CControlUI*>* GetOptionGroup(const std::wstring& group) const;
    void RemoveOptionGroup(const std::wstring& group, CControlUI* control);

    // The control tree.
    bool AttachRoot(CControlUI* root);
    CControlUI* GetRoot() const { return root_; }
    // Registers the subtree's names and attaches it to this manager.
    bool InitControls(CControlUI* control, CControlUI* parent = nullptr);
    // Forgets every reference to `control` (focus, hover, capture, key,
    // timers, pending notifications, its name).
    void ReapObjects(CControlUI* control);
    void AddDelayedCleanup(CControlUI* control);
    CControlUI* FindByName(const std::wstring& name) const;
    CControlUI* FindControl(POINT pt) const;
    bool IsUsedVirtualWnd() const { return usedVirtualWnd_; }
    void UsedVirtualWnd(bool used) { usedVirtualWnd_ = used; }

    // Focus and capture.
    CControlUI* GetFocus() const { return focus_; }
    void SetFocus(CControlUI* control);
    void SetFocusNeeded(CControlUI* control);
    bool SetNextTabControl(bool forward = true);
    CControlUI* GetHot() const { return hot_; }
    CControlUI* GetPushed() const { return pushed_; }
    void SetCapture();
    void ReleaseCapture();
    bool IsCaptured() const { return captured_; }

    // Control timers; the local id is the control's own.
    bool SetTimer(CControlUI* control, UINT id, UINT elapse);
    bool KillTimer(CControlUI* control, UINT id);
    void KillTimer(CControlUI* control);
    void RemoveAllTimers();

    // Notifiers and filters, called in registration order.
    bool AddNotifier(INotifyUI* notifier);
    bool RemoveNotifier(INotifyUI* notifier);
    bool AddPreMessageFilter(IMessageFilterUI* filter);
    bool RemovePreMessageFilter(IMessageFilterUI* filter);
    bool AddMessageFilter(IMessageFilterUI* filter);
    bool RemoveMessageFilter(IMessageFilterUI* filter);
    bool AddTranslateAccelerator(ITranslateAccelerator* translator);
    bool RemoveTranslateAccelerator(ITranslateAccelerator* translator);

    void RaiseNotification(TNotifyRecord& msg, bool delayed = false);
    void RaiseNotification(CControlUI* sender, const wchar_t* type, WPARAM wParam = 0, LPARAM lParam = 0,
                           bool delayed = false);

    // Redraw requests.
    void Invalidate(const RECT& rc);
    void NeedUpdate() { needLayout_ = true; }
    bool IsLayoutNeeded() const { return needLayout_; }
    // Performs a pending layout now (also done on the next WM_PAINT).
    void UpdateLayout();
    // Paints the whole tree into `dc` over `rc` (printing and tests).
    void PaintTree(HDC dc, const RECT& rc);

    // Message handling of the window; true when the message was claimed.
    bool MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool PreMessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Pre-translation of a queued message for the modal loop.
    static bool TranslateMessage(const MSG* msg);

    // Screen readers (PaintHostAccess.cpp). The window's client area answers
    // WM_GETOBJECT with an accessible object (AccessibleWindow.h) whose
    // children are the exposed controls (AccessibleModel.h); these raise the
    // system's accessibility events for a control a screen reader can see.
    void NotifyAccessible(CControlUI* control, DWORD event);
    void NotifyAccessibleSubtree(CControlUI* subtree, DWORD event);
    // A changed value, reported at most once a second: one held back is
    // reported when its second is up (as it is then), while the window lives.
    void NotifyAccessibleValue(CControlUI* control);
    // The role of the client object itself (ROLE_SYSTEM_CLIENT unless set).
    void SetAccessibleRole(long role) { accessibleRole_ = role; }
    long GetAccessibleRole() const { return accessibleRole_; }
    // The accessible object lets go of this manager and its controls: a
    // screen reader still holding it gets "disconnected" from then on.
    void DisconnectAccessible();
    // The keyboard focus cue: hidden until the keyboard is used (or the
    // system asks for cues always), then drawn around the focused control.
    bool IsFocusCueShown() const { return focusCue_; }
    void ShowFocusCue();

    // Process-wide.
    static void AddPlugin(CreateControlProc proc);
    static const std::vector<CreateControlProc>& GetPlugins();
    static void SetHSL(bool use, short hue, short saturation, short lightness);
    static bool IsUsingHSL();
    static void GetHSL(short* hue, short* saturation, short* lightness);

private:
    static CControlUI* FindControlFromPoint(CControlUI* control, void* data);
    static CControlUI* FindControlFromTab(CControlUI* control, void* data);
    static CControlUI* FindControlFromNameRegistration(CControlUI* control, void* data);
    static CControlUI* FindControlFromUpdate(CControlUI* control, void* data);

    void SendEvent(CControlUI* control, int type, WPARAM wParam = 0, LPARAM lParam = 0, WORD keyState = 0,
                   wchar_t key = 0);
    // Deletes the controls queued for cleanup so far (one pass).
    void DeleteDelayedCleanup();
    void DeliverDelayedNotifications();
    // Hands one notification to the sender's listeners, then to every notifier.
    void Deliver(TNotifyRecord& msg);
    void DoPaint();
    void PrintClient(HDC dc, LPARAM flags);
    void ShowToolTip(CControlUI* control);
    void HideToolTip();
    void InitDefaultFont();
    void FreeFonts();
    TFontInfo MakeFont(const std::wstring& name, int size, bool bold, bool underline, bool italic);

    // What MessageHandler dispatches a message to once no filter claimed it:
    // one handler per message (the keyboard's three share one). Those
    // returning bool claim the message when they return true.
    bool Dispatch(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void OnSize();
    void OnGetMinMaxInfo(MINMAXINFO* mmi);
    void OnClose();
    bool OnTimer(WPARAM nativeId);
    bool OnMouseHover(WPARAM wParam, LPARAM lParam);
    void OnMouseLeave();
    void OnMouseMove(WPARAM wParam, LPARAM lParam);
    void OnButtonDown(UINT msg, WPARAM wParam, LPARAM lParam);
    void OnButtonUp(WPARAM wParam, LPARAM lParam);
    void OnContextMenu(WPARAM wParam, LPARAM lParam);
    void OnMouseWheel(WPARAM wParam, LPARAM lParam);
    bool OnSetCursor(WPARAM wParam, LPARAM lParam, LRESULT& result);
    void OnKey(UINT msg, WPARAM wParam, LPARAM lParam);
    bool ReflectToChild(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool OnGetObject(WPARAM wParam, LPARAM lParam, LRESULT& result);
    void OnAccessibleAction(WPARAM childId);
    void OnAccessibleValueTimer();
    void OnUpdateUIState(WPARAM wParam);
    void InvalidateFocusCue(CControlUI* control);
    void PaintFocusCue(HDC dc);

    HWND window_ = nullptr;
    HDC windowDC_ = nullptr;
    CControlUI* root_ = nullptr;
    CControlUI* focus_ = nullptr;
    CControlUI* hot_ = nullptr;
    CControlUI* pushed_ = nullptr;
    CControlUI* keyPressed_ = nullptr;
    POINT lastMouse_ = {-1, -1};
    bool mouseTracking_ = false;
    bool captured_ = false;
    bool needLayout_ = false, firstLayout_ = false, needFocus_ = false;
    bool offscreen_ = true;
    bool usedVirtualWnd_ = false;

    SIZE initSize_ = {0, 0};
    RECT sizeBox_ = {0, 0, 0, 0};
    RECT caption_ = {0, 0, 0, 0};
    SIZE roundCorner_ = {0, 0};
    SIZE minInfo_ = {0, 0}, maxInfo_ = {0, 0};
    bool layered_ = false, shadow_ = false, selfShadow_ = false;
    std::wstring shadowImage_;
    RECT shadowBorder_ = {0, 0, 0, 0};
    SIZE shadowCorner_ = {0, 0};

    DWORD defaultFontColor_ = 0xFF000000, defaultDisabledColor_ = 0xFFA7A6AA, defaultLinkColor_ = 0xFF0000FF,
          defaultLinkHoverColor_ = 0xFFD3215F, defaultSelectedColor_ = 0xFFBAE4FF;

    TFontInfo defaultFont_;
    bool ownDefaultFont_ = false;
    std::vector<TFontInfo> fonts_;
    std::map<std::wstring, TImageInfo*> images_;
    std::map<std::wstring, std::wstring> defaultAttributes_;
    std::map<std::wstring, std::vector<CControlUI*>> optionGroups_;
    std::map<std::wstring, CControlUI*> names_;

    struct Timer {
        CControlUI* control;
        UINT localId;
        HWND window;
        UINT_PTR nativeId;
        bool killed;
    };
    std::vector<Timer> timers_;
    UINT_PTR nextTimerId_ = 0x1000;

    std::vector<INotifyUI*> notifiers_;
    std::vector<IMessageFilterUI*> preFilters_;
    std::vector<IMessageFilterUI*> filters_;
    std::vector<ITranslateAccelerator*> translators_;
    std::vector<TNotifyRecord> delayedNotifications_;
    std::vector<CControlUI*> delayedCleanup_;

    HWND tooltip_ = nullptr;
    std::wstring tooltipText_;
    CControlUI* tooltipOwner_ = nullptr;
    bool tooltipAdded_ = false;
    HBITMAP offscreenBitmap_ = nullptr;
    SIZE offscreenSize_ = {0, 0};

    class CAccessibleWindow* accessible_ = nullptr;  // one reference held
    long accessibleRole_ = 0x0A;                      // ROLE_SYSTEM_CLIENT
    CControlUI* pendingValue_ = nullptr;              // a value event waiting for its second
    DWORD lastValueEvent_ = 0;
    bool focusCue_ = false;

    CPaintHostUI(const CPaintHostUI&) = delete;
    CPaintHostUI& operator=(const CPaintHostUI&) = delete;
};
