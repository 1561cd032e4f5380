#include "ui/AccessibleWindow.h"

#include <vector>

#include "ui/AccessibleModel.h"
#include "ui/Control.h"
#include "ui/PaintHost.h"

const IID kIIDAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

namespace {

// What a call is about: the window itself or one of its controls.
struct Target {
    bool self = false;
    CControlUI* control = nullptr;
    long id = 0;
};

std::vector<long> VisibleIds(const std::vector<CControlUI*>& exposed) {
    std::vector<long> ids;
    for (size_t i = 0; i < exposed.size(); ++i)
        if (exposed[i]->IsVisible()) ids.push_back(static_cast<long>(i + 1));
    return ids;
}

HRESULT ReturnText(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (text.empty()) return S_FALSE;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

void SetI4(VARIANT* v, long value) {
    VariantInit(v);
    v->vt = VT_I4;
    v->lVal = value;
}

}  // namespace

CAccessibleWindow::CAccessibleWindow(CPaintHostUI* host) : host_(host) {}

void CAccessibleWindow::Disconnect() {
    if (!host_) return;
    host_ = nullptr;
    // Remote clients' proxies fail from now on instead of calling in.
    CoDisconnectObject(static_cast<IAccessible*>(this), 0);
}

// Resolves `child` against the tree as it is now.
static HRESULT Resolve(CPaintHostUI* host, const VARIANT& child, Target* t) {
    if (!host || !host->GetPaintWindow() || !IsWindow(host->GetPaintWindow())) return RPC_E_DISCONNECTED;
    if (child.vt != VT_I4) return E_INVALIDARG;
    if (child.lVal == CHILDID_SELF) {
        t->self = true;
        return S_OK;
    }
    const std::vector<CControlUI*> exposed = ExposedControls(host->GetRoot());
    if (child.lVal < 1 || static_cast<size_t>(child.lVal) > exposed.size()) return E_INVALIDARG;
    t->control = exposed[static_cast<size_t>(child.lVal) - 1];
    t->id = child.lVal;
    return S_OK;
}

static AccessibleDescription Describe(CPaintHostUI* host, const Target& t) {
    return DescribeControl(*t.control, IsWindowEnabled(host->GetPaintWindow()) != FALSE);
}

HRESULT CAccessibleWindow::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIIDAccessible) {
        *out = static_cast<IAccessible*>(this);
    } else if (riid == IID_IEnumVARIANT) {
        cursor_ = 0;  // a new enumeration starts at the first child
        *out = static_cast<IEnumVARIANT*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CAccessibleWindow::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG CAccessibleWindow::Release() {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT CAccessibleWindow::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT CAccessibleWindow::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT CAccessibleWindow::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT CAccessibleWindow::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

HRESULT CAccessibleWindow::get_accParent(IDispatch** parent) {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    if (!host_) return RPC_E_DISCONNECTED;
    // The window around the client area, as the system describes it.
    return CreateStdAccessibleObject(host_->GetPaintWindow(), OBJID_WINDOW, IID_IDispatch,
                                     reinterpret_cast<void**>(parent));
}

HRESULT CAccessibleWindow::get_accChildCount(long* count) {
    if (!count) return E_POINTER;
    *count = 0;
    if (!host_) return RPC_E_DISCONNECTED;
    *count = static_cast<long>(VisibleIds(ExposedControls(host_->GetRoot())).size());
    return S_OK;
}

HRESULT CAccessibleWindow::get_accChild(VARIANT child, IDispatch** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    // The controls are simple elements of this object.
    return FAILED(hr) ? hr : S_FALSE;
}

HRESULT CAccessibleWindow::get_accName(VARIANT child, BSTR* name) {
    if (!name) return E_POINTER;
    *name = nullptr;
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    if (FAILED(hr)) return hr;
    if (t.self) {
        wchar_t title[256] = {};
        GetWindowTextW(host_->GetPaintWindow(), title, 256);
        return ReturnText(title, name);
    }
    return ReturnText(Describe(host_, t).name, name);
}

HRESULT CAccessibleWindow::get_accValue(VARIANT child, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    if (FAILED(hr)) return hr;
    return t.self ? S_FALSE : ReturnText(Describe(host_, t).value, value);
}

HRESULT CAccessibleWindow::get_accDescription(VARIANT child, BSTR* text) {
    if (!text) return E_POINTER;
    *text = nullptr;
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    if (FAILED(hr)) return hr;
    return t.self ? S_FALSE : ReturnText(t.control->GetToolTip(), text);
}

HRESULT CAccessibleWindow::get_accRole(VARIANT child, VARIANT* role) {
    if (!role) return E_POINTER;
    VariantInit(role);
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    if (FAILED(hr)) return hr;
    SetI4(role, t.self ? host_->GetAccessibleRole() : Describe(host_, t).role);
    return S_OK;
}

HRESULT CAccessibleWindow::get_accState(VARIANT child, VARIANT* state) {
    if (!state) return E_POINTER;
    VariantInit(state);
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    if (FAILED(hr)) return hr;
    if (t.self) {
        HWND hwnd = host_->GetPaintWindow();
        long s = STATE_SYSTEM_FOCUSABLE;
        if (GetFocus() == hwnd) s |= STATE_SYSTEM_FOCUSED;
        if (!IsWindowEnabled(hwnd)) s |= STATE_SYSTEM_UNAVAILABLE;
        if (!IsWindowVisible(hwnd)) s |= STATE_SYSTEM_INVISIBLE;
        SetI4(state, s);
        return S_OK;
    }
    SetI4(state, Describe(host_, t).state);
    return S_OK;
}

HRESULT CAccessibleWindow::get_accHelp(VARIANT, BSTR* help) {
    if (!help) return E_POINTER;
    *help = nullptr;
    return host_ ? S_FALSE : RPC_E_DISCONNECTED;
}

HRESULT CAccessibleWindow::get_accHelpTopic(BSTR* file, VARIANT, long* topic) {
    if (file) *file = nullptr;
    if (topic) *topic = -1;
    return host_ ? S_FALSE : RPC_E_DISCONNECTED;
}

HRESULT CAccessibleWindow::get_accKeyboardShortcut(VARIANT child, BSTR* keys) {
    if (!keys) return E_POINTER;
    *keys = nullptr;
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    return FAILED(hr) ? hr : S_FALSE;
}

HRESULT CAccessibleWindow::get_accFocus(VARIANT* child) {
    if (!child) return E_POINTER;
    VariantInit(child);
    if (!host_) return RPC_E_DISCONNECTED;
    HWND hwnd = host_->GetPaintWindow();
    const HWND focus = GetFocus();
    if (focus != hwnd && !IsChild(hwnd, focus)) return S_FALSE;
    const std::vector<CControlUI*> exposed = ExposedControls(host_->GetRoot());
    for (size_t i = 0; i < exposed.size(); ++i) {
        if (exposed[i] == host_->GetFocus()) {
            SetI4(child, static_cast<long>(i + 1));
            return S_OK;
        }
    }
    SetI4(child, CHILDID_SELF);
    return S_OK;
}

HRESULT CAccessibleWindow::get_accSelection(VARIANT* children) {
    if (!children) return E_POINTER;
    VariantInit(children);
    return host_ ? S_FALSE : RPC_E_DISCONNECTED;
}

HRESULT CAccessibleWindow::get_accDefaultAction(VARIANT child, BSTR* action) {
    if (!action) return E_POINTER;
    *action = nullptr;
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    if (FAILED(hr)) return hr;
    return t.self ? S_FALSE : ReturnText(Describe(host_, t).defaultAction, action);
}

HRESULT CAccessibleWindow::accSelect(long flags, VARIANT child) {
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    if (FAILED(hr)) return hr;
    if (t.self || flags != SELFLAG_TAKEFOCUS) return E_NOTIMPL;
    if (!(Describe(host_, t).state & STATE_SYSTEM_FOCUSABLE)) return E_FAIL;
    host_->SetFocus(t.control);
    return S_OK;
}

HRESULT CAccessibleWindow::accLocation(long* x, long* y, long* w, long* h, VARIANT child) {
    if (!x || !y || !w || !h) return E_POINTER;
    *x = *y = *w = *h = 0;
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    if (FAILED(hr)) return hr;
    HWND hwnd = host_->GetPaintWindow();
    // The control's own rectangle, as laid out (and scaled) for this window.
    RECT rc = {0, 0, 0, 0};
    if (t.self)
        GetClientRect(hwnd, &rc);
    else
        rc = t.control->GetPosition();
    POINT origin = {rc.left, rc.top};
    if (!ClientToScreen(hwnd, &origin)) return E_FAIL;
    *x = origin.x;
    *y = origin.y;
    *w = rc.right - rc.left;
    *h = rc.bottom - rc.top;
    return S_OK;
}

HRESULT CAccessibleWindow::accNavigate(long dir, VARIANT start, VARIANT* end) {
    if (!end) return E_POINTER;
    VariantInit(end);
    Target t;
    const HRESULT hr = Resolve(host_, start, &t);
    if (FAILED(hr)) return hr;
    const std::vector<long> ids = VisibleIds(ExposedControls(host_->GetRoot()));
    if (ids.empty()) return S_FALSE;
    long found = 0;
    if (t.self && dir == NAVDIR_FIRSTCHILD) found = ids.front();
    if (t.self && dir == NAVDIR_LASTCHILD) found = ids.back();
    if (!t.self && (dir == NAVDIR_NEXT || dir == NAVDIR_PREVIOUS)) {
        for (size_t i = 0; i < ids.size(); ++i) {
            if (ids[i] != t.id) continue;
            if (dir == NAVDIR_NEXT && i + 1 < ids.size()) found = ids[i + 1];
            if (dir == NAVDIR_PREVIOUS && i > 0) found = ids[i - 1];
        }
    }
    if (!found) return S_FALSE;
    SetI4(end, found);
    return S_OK;
}

HRESULT CAccessibleWindow::accHitTest(long x, long y, VARIANT* child) {
    if (!child) return E_POINTER;
    VariantInit(child);
    if (!host_) return RPC_E_DISCONNECTED;
    HWND hwnd = host_->GetPaintWindow();
    POINT pt = {x, y};
    RECT client;
    if (!ScreenToClient(hwnd, &pt) || !GetClientRect(hwnd, &client) || !PtInRect(&client, pt)) return S_FALSE;
    const std::vector<CControlUI*> exposed = ExposedControls(host_->GetRoot());
    // The topmost control there, or the nearest exposed control around it.
    for (CControlUI* c = host_->FindControl(pt); c; c = c->GetParent()) {
        for (size_t i = 0; i < exposed.size(); ++i) {
            if (exposed[i] == c) {
                SetI4(child, static_cast<long>(i + 1));
                return S_OK;
            }
        }
    }
    SetI4(child, CHILDID_SELF);
    return S_OK;
}

HRESULT CAccessibleWindow::accDoDefaultAction(VARIANT child) {
    Target t;
    const HRESULT hr = Resolve(host_, child, &t);
    if (FAILED(hr)) return hr;
    if (t.self || Describe(host_, t).defaultAction.empty()) return DISP_E_MEMBERNOTFOUND;
    return PostMessageW(host_->GetPaintWindow(), kMsgAccessibleAction, static_cast<WPARAM>(t.id), 0) ? S_OK : E_FAIL;
}

HRESULT CAccessibleWindow::put_accName(VARIANT, BSTR) { return E_NOTIMPL; }
HRESULT CAccessibleWindow::put_accValue(VARIANT, BSTR) { return E_NOTIMPL; }

HRESULT CAccessibleWindow::Next(ULONG count, VARIANT* out, ULONG* fetched) {
    if (fetched) *fetched = 0;
    if (!out) return E_POINTER;
    if (!host_) return RPC_E_DISCONNECTED;
    const std::vector<long> ids = VisibleIds(ExposedControls(host_->GetRoot()));
    ULONG n = 0;
    while (n < count && cursor_ < static_cast<long>(ids.size())) SetI4(&out[n++], ids[static_cast<size_t>(cursor_++)]);
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT CAccessibleWindow::Skip(ULONG count) {
    if (!host_) return RPC_E_DISCONNECTED;
    const long total = static_cast<long>(VisibleIds(ExposedControls(host_->GetRoot())).size());
    cursor_ += static_cast<long>(count);
    if (cursor_ <= total) return S_OK;
    cursor_ = total;
    return S_FALSE;
}

HRESULT CAccessibleWindow::Reset() {
    cursor_ = 0;
    return host_ ? S_OK : RPC_E_DISCONNECTED;
}

HRESULT CAccessibleWindow::Clone(IEnumVARIANT** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}
