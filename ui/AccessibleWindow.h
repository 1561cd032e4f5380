#pragma once
// CAccessibleWindow: the accessible object (IAccessible) of one skinned
// window's client area, as a screen reader in another process sees it. Its
// children are the window's exposed controls (AccessibleModel.h) as simple
// elements, addressed by child id; IEnumVARIANT lists the visible ones, so
// the system's AccessibleChildren gives the current page.
//
// Lifetime: reference-counted and handed out through LresultFromObject, so
// a client may hold it long after the window is gone. It never keeps a
// control: every call finds the control by its id in the paint manager's
// tree at that moment, and once the manager disconnects it (window
// destroyed) every call answers RPC_E_DISCONNECTED without touching anything.
// The default action is posted to the window (kMsgAccessibleAction) and runs
// there as a click would, so a client never waits on a modal box.
//
// Threads: the window's UI thread (calls from other processes arrive there
// through COM's message-based calls).

#include <windows.h>
#include <oleacc.h>

class CPaintHostUI;

// Posted to the window: wParam is the child id whose default action to run.
constexpr UINT kMsgAccessibleAction = 2035;

// IID_IAccessible, defined here: the import library's symbol is a stub.
extern const IID kIIDAccessible;

class CAccessibleWindow : public IAccessible, public IEnumVARIANT {
public:
    // With one reference, owned by the caller.
    explicit CAccessibleWindow(CPaintHostUI* host);
    // Forgets the manager and cuts off remote clients.
    void Disconnect();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: not offered (clients use the IAccessible methods).
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(long dir, VARIANT start, VARIANT* end) override;
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override;
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override;
    // IEnumVARIANT: the visible children's ids, as of the last Reset.
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override;

private:
    virtual ~CAccessibleWindow() = default;
    LONG refs_ = 1;
    CPaintHostUI* host_;
    long cursor_ = 0;
};
