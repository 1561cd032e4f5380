// A screen reader of our own for tests/e2e/access_test.py: reads a window of
// the installer from another process through MSAA and writes tab-separated
// UTF-8 lines to OUT. Commands: tree TITLE (the object, then each visible
// child: id, role, state, name, value, x,y,w,h, action); do TITLE NAME (the
// default action's HRESULT); watch TITLE SECS (out-of-context events: hex
// event, title, child, name, value, state, ms); gone TITLE (holds the object
// until the window has gone, then the HRESULT of asking it for a name).
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

std::string Utf8(BSTR b) {
    const int len = b ? static_cast<int>(SysStringLen(b)) : 0;
    std::string s(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, b, len, nullptr, 0, nullptr, nullptr)), '\0');
    if (len) WideCharToMultiByte(CP_UTF8, 0, b, len, &s[0], static_cast<int>(s.size()), nullptr, nullptr);
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

long Number(IAccessible* acc, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), const VARIANT& v) {
    VARIANT out;
    VariantInit(&out);
    return SUCCEEDED((acc->*get)(v, &out)) && out.vt == VT_I4 ? out.lVal : 0;
}

std::string Text(IAccessible* acc, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), const VARIANT& v) {
    BSTR b = nullptr;
    return SUCCEEDED((acc->*get)(v, &b)) ? Utf8(b) : std::string();
}

void Describe(IAccessible* acc, long id) {
    const VARIANT v = Child(id);
    long x = 0, y = 0, w = 0, h = 0;
    acc->accLocation(&x, &y, &w, &h, v);
    fprintf(g_out, "%ld\t%ld\t0x%lx\t%s\t%s\t%ld,%ld,%ld,%ld\t%s\n", id, Number(acc, &IAccessible::get_accRole, v),
            Number(acc, &IAccessible::get_accState, v), Text(acc, &IAccessible::get_accName, v).c_str(),
            Text(acc, &IAccessible::get_accValue, v).c_str(), x, y, w, h,
            Text(acc, &IAccessible::get_accDefaultAction, v).c_str());
}

std::vector<long> ChildIds(IAccessible* acc) {
    long count = 0, got = 0;
    std::vector<long> ids;
    if (FAILED(acc->get_accChildCount(&count)) || count <= 0) return ids;
    std::vector<VARIANT> kids(static_cast<size_t>(count));
    if (FAILED(AccessibleChildren(acc, 0, count, kids.data(), &got))) return ids;
    for (long i = 0; i < got; ++i)
        if (kids[static_cast<size_t>(i)].vt == VT_I4) ids.push_back(kids[static_cast<size_t>(i)].lVal);
    return ids;
}

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    DWORD pid = 0;
    if (object != OBJID_CLIENT || !hwnd || !GetWindowThreadProcessId(hwnd, &pid) || pid != g_pid) return;
    wchar_t title[128] = {};
    GetWindowTextW(hwnd, title, 128);
    IAccessible* acc = nullptr;
    VARIANT v;
    VariantInit(&v);
    std::string name, value;
    long state = 0;
    if (SUCCEEDED(AccessibleObjectFromEvent(hwnd, object, child, &acc, &v)) && acc) {
        name = Text(acc, &IAccessible::get_accName, v);
        value = Text(acc, &IAccessible::get_accValue, v);
        state = Number(acc, &IAccessible::get_accState, v);
        acc->Release();
    }
    fprintf(g_out, "event\t%04lx\t%s\t%ld\t%s\t%s\t0x%lx\t%lu\n", event, Utf8(SysAllocString(title)).c_str(),
            static_cast<long>(child), name.c_str(), value.c_str(), state, GetTickCount());
    fflush(g_out);
}

int Run(const std::wstring& cmd, HWND hwnd, const wchar_t* arg) {
    if (cmd == L"watch") {
        // Every process's events, sorted out in OnEvent: a hook limited to one
        // process id hears nothing under Wine 8.
        GetWindowThreadProcessId(hwnd, &g_pid);
        HWINEVENTHOOK hook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, OnEvent, 0, 0,
                                             WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
        if (!hook) return 2;
        for (const DWORD end = GetTickCount() + static_cast<DWORD>(_wtoi(arg)) * 1000;
             static_cast<LONG>(end - GetTickCount()) > 0;) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
        }
        return UnhookWinEvent(hook) ? 0 : 2;
    }
    IAccessible* acc = nullptr;
    if (FAILED(AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), kIIDAccessible,
                                          reinterpret_cast<void**>(&acc))))
        return 2;
    HRESULT hr = S_OK;
    if (cmd == L"tree") {
        Describe(acc, CHILDID_SELF);
        for (long id : ChildIds(acc)) Describe(acc, id);
    } else if (cmd == L"do") {
        hr = E_INVALIDARG;
        for (long id : ChildIds(acc))
            if (hr == E_INVALIDARG && Text(acc, &IAccessible::get_accName, Child(id)) == Utf8(SysAllocString(arg)))
                hr = acc->accDoDefaultAction(Child(id));
        fprintf(g_out, "0x%08lx\n", static_cast<unsigned long>(hr));
    } else if (cmd == L"gone") {
        for (int i = 0; i < 600 && IsWindow(hwnd); ++i) Sleep(100);
        BSTR b = nullptr;
        fprintf(g_out, "0x%08lx\n", static_cast<unsigned long>(acc->get_accName(Child(1), &b)));
        SysFreeString(b);
    }
    acc->Release();
    return SUCCEEDED(hr) ? 0 : 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4 || !(g_out = _wfopen(argv[argc - 1], L"wb"))) return 1;
    CoInitialize(nullptr);
    HWND hwnd = nullptr;
    for (int i = 0; i < 100 && !(hwnd && IsWindowVisible(hwnd)); ++i, Sleep(100)) hwnd = FindWindowW(nullptr, argv[2]);
    const int rc = hwnd ? Run(argv[1], hwnd, argv[3]) : 2;
    fclose(g_out);
    CoUninitialize();
    return rc;
}
