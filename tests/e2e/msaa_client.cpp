// A small screen reader of our own, for the accessibility end-to-end test:
// it reads the installer's windows from another process through MSAA, as
// Narrator's or NVDA's MSAA side does, and writes what it saw as UTF-8 lines.
//
//   msaa_client tree TITLE OUT        every child of TITLE's client object:
//                                     "id<TAB>role<TAB>state<TAB>name<TAB>value<TAB>x,y,w,h<TAB>action"
//   msaa_client do TITLE NAME OUT     the default action of the child named NAME
//   msaa_client watch TITLE SECS OUT  the accessibility events of TITLE's process
//                                     for SECS seconds (out of context):
//                                     "event<TAB>hex<TAB>window title<TAB>child<TAB>name<TAB>value<TAB>state<TAB>ms"
//   msaa_client gone TITLE OUT        holds TITLE's object until the window is
//                                     gone, then calls it: the error it answers
// Exit status 0 when the command worked.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The import library's IID_IAccessible is a stub: the real GUID here.
const IID kIIDAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

FILE* g_out = nullptr;
DWORD g_pid = 0;  // the watched process

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring TakeBstr(BSTR b) {
    std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
    SysFreeString(b);
    return s;
}

VARIANT Child(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::string Describe(IAccessible* acc, long id) {
    const VARIANT v = Child(id);
    BSTR name = nullptr, value = nullptr, action = nullptr;
    VARIANT role, state;
    VariantInit(&role);
    VariantInit(&state);
    acc->get_accName(v, &name);
    acc->get_accValue(v, &value);
    acc->get_accDefaultAction(v, &action);
    acc->get_accRole(v, &role);
    acc->get_accState(v, &state);
    long x = 0, y = 0, w = 0, h = 0;
    acc->accLocation(&x, &y, &w, &h, v);
    char head[160];
    snprintf(head, sizeof head, "%ld\t%ld\t0x%lx\t", id, role.vt == VT_I4 ? role.lVal : -1L,
             state.vt == VT_I4 ? state.lVal : 0L);
    char where[96];
    snprintf(where, sizeof where, "\t%ld,%ld,%ld,%ld\t", x, y, w, h);
    return head + Utf8(TakeBstr(name)) + "\t" + Utf8(TakeBstr(value)) + where + Utf8(TakeBstr(action));
}

HWND FindTitled(const std::wstring& title) {
    for (int i = 0; i < 100; ++i) {
        HWND w = FindWindowW(nullptr, title.c_str());
        if (w && IsWindowVisible(w)) return w;
        Sleep(100);
    }
    return nullptr;
}

IAccessible* ClientOf(HWND hwnd) {
    IAccessible* acc = nullptr;
    if (FAILED(AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), kIIDAccessible,
                                          reinterpret_cast<void**>(&acc))))
        return nullptr;
    return acc;
}

std::vector<long> ChildIds(IAccessible* acc) {
    long count = 0;
    std::vector<long> ids;
    if (FAILED(acc->get_accChildCount(&count)) || count <= 0) return ids;
    std::vector<VARIANT> kids(static_cast<size_t>(count));
    long got = 0;
    if (FAILED(AccessibleChildren(acc, 0, count, kids.data(), &got))) return ids;
    for (long i = 0; i < got; ++i) {
        if (kids[static_cast<size_t>(i)].vt == VT_I4) ids.push_back(kids[static_cast<size_t>(i)].lVal);
        VariantClear(&kids[static_cast<size_t>(i)]);
    }
    return ids;
}

int Tree(HWND hwnd) {
    IAccessible* acc = ClientOf(hwnd);
    if (!acc) return 2;
    fprintf(g_out, "%s\n", Describe(acc, CHILDID_SELF).c_str());
    for (long id : ChildIds(acc)) fprintf(g_out, "%s\n", Describe(acc, id).c_str());
    acc->Release();
    return 0;
}

int Do(HWND hwnd, const std::wstring& name) {
    IAccessible* acc = ClientOf(hwnd);
    if (!acc) return 2;
    HRESULT hr = E_INVALIDARG;
    for (long id : ChildIds(acc)) {
        BSTR b = nullptr;
        acc->get_accName(Child(id), &b);
        if (TakeBstr(b) == name) {
            hr = acc->accDoDefaultAction(Child(id));
            break;
        }
    }
    fprintf(g_out, "0x%08lx\n", static_cast<unsigned long>(hr));
    acc->Release();
    return SUCCEEDED(hr) ? 0 : 3;
}

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    DWORD pid = 0;
    if (object != OBJID_CLIENT || !hwnd || !GetWindowThreadProcessId(hwnd, &pid) || pid != g_pid) return;
    wchar_t title[128] = {};
    GetWindowTextW(hwnd, title, 128);
    std::wstring name, value;
    long state = 0;
    IAccessible* acc = nullptr;
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(AccessibleObjectFromEvent(hwnd, object, child, &acc, &v)) && acc) {
        BSTR b = nullptr;
        if (SUCCEEDED(acc->get_accName(v, &b))) name = TakeBstr(b);
        b = nullptr;
        if (SUCCEEDED(acc->get_accValue(v, &b))) value = TakeBstr(b);
        VARIANT s;
        VariantInit(&s);
        if (SUCCEEDED(acc->get_accState(v, &s)) && s.vt == VT_I4) state = s.lVal;
        acc->Release();
    }
    fprintf(g_out, "event\t%04lx\t%s\t%ld\t%s\t%s\t0x%lx\t%lu\n", static_cast<unsigned long>(event),
            Utf8(title).c_str(), static_cast<long>(child), Utf8(name).c_str(), Utf8(value).c_str(), state,
            static_cast<unsigned long>(GetTickCount()));
    fflush(g_out);
}

int Watch(HWND hwnd, int seconds) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    // Every process's events, sorted out in OnEvent: a hook limited to one
    // process id hears nothing under Wine 8.
    g_pid = pid;
    HWINEVENTHOOK hook =
        SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, OnEvent, 0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    if (!hook) return 2;
    fprintf(g_out, "watching\n");
    fflush(g_out);
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    UnhookWinEvent(hook);
    return 0;
}

int Gone(HWND hwnd) {
    IAccessible* acc = ClientOf(hwnd);
    if (!acc) return 2;
    for (int i = 0; i < 600 && IsWindow(hwnd); ++i) Sleep(100);
    BSTR b = nullptr;
    const HRESULT hr = acc->get_accName(Child(1), &b);
    SysFreeString(b);
    fprintf(g_out, "0x%08lx\n", static_cast<unsigned long>(hr));
    acc->Release();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 1;
    const std::wstring cmd = argv[1];
    g_out = _wfopen(argv[argc - 1], L"wb");
    if (!g_out) return 1;
    CoInitialize(nullptr);
    HWND hwnd = FindTitled(argv[2]);
    int rc = 2;
    if (hwnd && cmd == L"tree") rc = Tree(hwnd);
    if (hwnd && cmd == L"do" && argc >= 5) rc = Do(hwnd, argv[3]);
    if (hwnd && cmd == L"watch" && argc >= 5) rc = Watch(hwnd, _wtoi(argv[3]));
    if (hwnd && cmd == L"gone") rc = Gone(hwnd);
    fclose(g_out);
    CoUninitialize();
    return rc;
}
