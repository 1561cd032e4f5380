#pragma once
// CControlUI: the base of every skin element. A control is a rectangle in
// window coordinates with sizing rules, visibility and enabled state, colours,
// a border, background and fore images and a text. Containers (Container.h)
// own their children; the paint manager (PaintHost.h) lays the tree out,
// paints it and delivers events to it.
//
// Implemented in Control.cpp (state, geometry, layout requests, events),
// ControlAttributes.cpp (markup attributes) and ControlPaint.cpp (colours,
// border, images and painting).
//
// Threads: UI thread of the owning window only.
// Ownership: a control is owned by its parent container (or by whoever holds
// the root); the paint manager and parent pointers are not owned.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/UIDefine.h"

class CPaintHostUI;

// Listeners attached to a control (size changes, initialisation, events).
// Each returns false to stop an event from going further.
using ControlListener = std::function<bool(void*)>;

class CControlUI {
public:
    CControlUI();
    virtual ~CControlUI();

    virtual const std::wstring& GetName() const { return name_; }
    virtual void SetName(const std::wstring& name) { name_ = name; }
    virtual const wchar_t* ClassName() const { return L"ControlUI"; }
    // The object itself when it implements `name`, else null; subclasses ask
    // their base for names they do not know.
    virtual void* AsInterface(const wchar_t* name);
    virtual UINT GetControlFlags() const { return 0; }
    virtual bool Activate();
    virtual CPaintHostUI* GetManager() const { return manager_; }
    virtual void Attach(CPaintHostUI* manager, CControlUI* parent, bool init = true);
    virtual CControlUI* GetParent() const { return parent_; }

    virtual const std::wstring& GetText() const { return text_; }
    virtual void SetText(const std::wstring& text);

    virtual const RECT& GetPosition() const { return bounds_; }
    virtual void SetPosition(const RECT& rc);
    virtual int GetWidth() const { return bounds_.right - bounds_.left; }
    virtual int GetHeight() const { return bounds_.bottom - bounds_.top; }
    virtual int GetX() const { return bounds_.left; }
    virtual int GetY() const { return bounds_.top; }
    virtual RECT GetPadding() const { return padding_; }
    virtual void SetPadding(const RECT& padding);
    virtual POINT GetFloatOffset() const { return floatOffset_; }
    virtual void SetFloatOffset(POINT offset);
    virtual int GetFixedWidth() const { return fixedWidth_; }
    virtual void SetFixedWidth(int cx);
    virtual int GetFixedHeight() const { return fixedHeight_; }
    virtual void SetFixedHeight(int cy);
    virtual int GetMinWidth() const { return minWidth_; }
    virtual void SetMinWidth(int cx);
    virtual int GetMaxWidth() const { return maxWidth_; }
    virtual void SetMaxWidth(int cx);
    virtual int GetMinHeight() const { return minHeight_; }
    virtual void SetMinHeight(int cy);
    virtual int GetMaxHeight() const { return maxHeight_; }
    virtual void SetMaxHeight(int cy);

    struct RelativePos {
        bool enabled = false;
        SIZE parentSize = {0, 0};
        int moveX = 0, moveY = 0, zoomX = 0, zoomY = 0;
    };
    virtual void SetRelativePos(int moveX, int moveY, int zoomX, int zoomY);
    virtual void SetRelativeParentSize(SIZE size) { relative_.parentSize = size; }
    virtual RelativePos GetRelativePos() const { return relative_; }
    virtual bool IsRelativePos() const { return relative_.enabled; }

    virtual const std::wstring& GetToolTip() const { return tooltip_; }
    virtual void SetToolTip(const std::wstring& text);
    virtual void SetToolTipWidth(int width) { tooltipWidth_ = width; }
    virtual int GetToolTipWidth() const { return tooltipWidth_; }
    virtual wchar_t GetShortcut() const { return shortcut_; }
    virtual void SetShortcut(wchar_t ch) { shortcut_ = ch; }
    virtual bool IsContextMenuUsed() const { return contextMenu_; }
    virtual void SetContextMenuUsed(bool used) { contextMenu_ = used; }
    virtual const std::wstring& GetUserData() const { return userData_; }
    virtual void SetUserData(const std::wstring& text) { userData_ = text; }
    virtual UINT_PTR GetTag() const { return tag_; }
    virtual void SetTag(UINT_PTR tag) { tag_ = tag; }
    // What a screen reader calls the control and what it is, when the markup
    // says so ("accname", "accrole"): image-only buttons have no text to read.
    const std::wstring& GetAccessibleName() const { return accName_; }
    const std::wstring& GetAccessibleRole() const { return accRole_; }

    // Visible and not hidden by an ancestor.
    virtual bool IsVisible() const { return visible_ && parentVisible_; }
    virtual void SetVisible(bool visible = true);
    virtual void SetParentVisible(bool visible);
    // The control's own flag and every ancestor's.
    virtual bool IsEnabled() const;
    virtual void SetEnabled(bool enabled = true);
    virtual bool IsMouseEnabled() const { return mouseEnabled_; }
    virtual void SetMouseEnabled(bool enabled = true) { mouseEnabled_ = enabled; }
    virtual bool IsKeyboardEnabled() const { return keyboardEnabled_; }
    virtual void SetKeyboardEnabled(bool enabled = true) { keyboardEnabled_ = enabled; }
    virtual bool IsFocused() const { return focused_; }
    virtual void SetFocus();
    virtual bool IsFloat() const { return floating_; }
    virtual void SetFloat(bool floating = true);

    virtual CControlUI* Lookup(FindControlProc visitor, void* data, UINT flags);

    void Redraw();
    bool IsUpdateNeeded() const { return updateNeeded_; }
    void RequestLayout();
    void RequestParentLayout();

    void Initialize();
    virtual void OnInit() {}
    // Runs the event listeners; HandleEvent only when all of them let it pass.
    void Event(TEventUI& event);
    virtual void HandleEvent(TEventUI& event);

    virtual void SetProperty(const wchar_t* name, const wchar_t* value);
    // name="value" pairs, as stored by the builder's defaults.
    void ApplyAttributeList(const wchar_t* list);

    virtual SIZE MeasureSize(SIZE available);

    virtual void Paint(HDC dc, const RECT& paint);
    virtual void PaintBkColor(HDC dc);
    virtual void PaintBkImage(HDC dc);
    virtual void PaintStatusImage(HDC dc);
    virtual void PaintText(HDC dc);
    virtual void PaintBorder(HDC dc);
    virtual void PaintOverlay(HDC dc) {}

    // Colours, border and images.
    DWORD GetBkColor() const { return bkColor_; }
    void SetBkColor(DWORD color);
    DWORD GetBkColor2() const { return bkColor2_; }
    void SetBkColor2(DWORD color);
    DWORD GetBkColor3() const { return bkColor3_; }
    void SetBkColor3(DWORD color);
    DWORD GetBorderColor() const { return borderColor_; }
    void SetBorderColor(DWORD color);
    DWORD GetFocusBorderColor() const { return focusBorderColor_; }
    void SetFocusBorderColor(DWORD color);
    bool IsColorHSL() const { return colorHsl_; }
    void SetColorHSL(bool hsl);
    int GetBorderSize() const { return borderSize_; }
    void SetBorderSize(int size);
    RECT GetBorderSides() const { return borderSides_; }
    void SetBorderSides(const RECT& sides);
    int GetBorderStyle() const { return borderStyle_; }
    void SetBorderStyle(int style);
    SIZE GetBorderRound() const { return borderRound_; }
    void SetBorderRound(SIZE round);
    const std::wstring& GetBkImage() const { return bkImage_; }
    void SetBkImage(const std::wstring& image);
    const std::wstring& GetForeImage() const { return foreImage_; }
    void SetForeImage(const std::wstring& image);
    const std::wstring& GetVirtualWnd() const;
    void SetVirtualWnd(const std::wstring& name);

    // Draws an image description over this control; false when it could not.
    bool DrawImage(HDC dc, const std::wstring& description, const wchar_t* modifier = nullptr);
    // The part of `bounds` being painted during Paint.
    const RECT& PaintRect() const { return paintRect_; }

    // Listeners. Event listeners receive TEventUI*, the others the control.
    std::vector<ControlListener> OnInitListeners;
    std::vector<ControlListener> OnSizeListeners;
    std::vector<ControlListener> OnEventListeners;
    // Called with TNotifyRecord* before the window's notifiers see it.
    std::vector<ControlListener> OnNotifyListeners;

protected:
    DWORD AdjustedColor(DWORD color) const;

    CPaintHostUI* manager_ = nullptr;
    CControlUI* parent_ = nullptr;
    std::wstring name_, text_, tooltip_, userData_, virtualWnd_;
    std::wstring accName_, accRole_;
    wchar_t shortcut_ = 0;
    UINT_PTR tag_ = 0;
    int tooltipWidth_ = 300;
    RECT bounds_ = {0, 0, 0, 0};
    RECT paintRect_ = {0, 0, 0, 0};
    RECT padding_ = {0, 0, 0, 0};
    POINT floatOffset_ = {0, 0};
    int fixedWidth_ = 0, fixedHeight_ = 0;
    int minWidth_ = 0, minHeight_ = 0;
    int maxWidth_ = 9999, maxHeight_ = 9999;
    bool visible_ = true, parentVisible_ = true, enabled_ = true, mouseEnabled_ = true, keyboardEnabled_ = true;
    bool focused_ = false, floating_ = false, contextMenu_ = false, updateNeeded_ = true;
    RelativePos relative_;
    DWORD bkColor_ = 0, bkColor2_ = 0, bkColor3_ = 0, borderColor_ = 0, focusBorderColor_ = 0;
    bool colorHsl_ = false;
    int borderSize_ = 0;
    RECT borderSides_ = {0, 0, 0, 0};
    int borderStyle_ = 0;
    SIZE borderRound_ = {0, 0};
    std::wstring bkImage_, foreImage_;

private:
    void RequestSizeLayout();
    bool inSizeListeners_ = false;

    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;
};
