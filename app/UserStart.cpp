#include "app/UserStart.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

#include <vector>

#include "Runtime/Logger.h"
#include "Runtime/ProcessStart.h"
#include "Runtime/ShellToken.h"

namespace {

const wchar_t kSource[] = L".\\UserStart";

// Releases a COM interface pointer on every path out.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef()
    {
        if (p_)
            p_->Release();
    }
    T** Out() { return &p_; }
    void** OutVoid() { return reinterpret_cast<void**>(&p_); }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }

private:
    T* p_ = nullptr;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
};

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(b_); }
    BSTR Get() const { return b_; }

private:
    BSTR b_;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
};

}  // namespace

bool SystemUserStartOps::Elevated()
{
    return ProcessIsElevated();
}

DWORD SystemUserStartOps::ShellProcessId()
{
    return ::ShellProcessId();
}

HANDLE SystemUserStartOps::ShellToken()
{
    return DuplicateProcessToken(ShellProcessId());
}

void SystemUserStartOps::CloseToken(HANDLE token)
{
    if (token)
        CloseHandle(token);
}

DWORD SystemUserStartOps::StartWithToken(HANDLE token, const std::wstring& program, const std::wstring& commandLine)
{
    // The call may write into the command line, so it gets its own copy.
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessWithTokenW(token, 0, program.c_str(), cmd.data(), 0, nullptr, nullptr, &si, &pi))
        return GetLastError();
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return 0;
}

DWORD SystemUserStartOps::OpenThroughShell(const std::wstring& target)
{
    // The desktop's folder view belongs to the shell's process; its
    // Application object runs ShellExecute there, as the signed-in user.
    ComRef<IShellWindows> windows;
    HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                  windows.OutVoid());
    if (FAILED(hr))
        return static_cast<DWORD>(hr);
    VARIANT location, root;
    VariantInit(&location);
    VariantInit(&root);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    long hwnd = 0;
    ComRef<IDispatch> desktop;
    hr = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, desktop.Out());
    if (hr != S_OK || !desktop.Get())
        return static_cast<DWORD>(FAILED(hr) ? hr : E_FAIL);
    ComRef<IServiceProvider> provider;
    ComRef<IShellBrowser> browser;
    ComRef<IShellView> view;
    ComRef<IDispatch> background;
    ComRef<IShellFolderViewDual> folderView;
    ComRef<IDispatch> application;
    ComRef<IShellDispatch2> shell;
    if (FAILED(hr = desktop->QueryInterface(IID_IServiceProvider, provider.OutVoid())) ||
        FAILED(hr = provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.OutVoid())) ||
        FAILED(hr = browser->QueryActiveShellView(view.Out())) ||
        FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.OutVoid())) ||
        FAILED(hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.OutVoid())) ||
        FAILED(hr = folderView->get_Application(application.Out())) ||
        FAILED(hr = application->QueryInterface(IID_IShellDispatch2, shell.OutVoid())))
        return static_cast<DWORD>(hr);
    Bstr file(target);
    Bstr verb(L"open");
    VARIANT args, dir, operation, show;
    VariantInit(&args);
    VariantInit(&dir);
    VariantInit(&operation);
    VariantInit(&show);
    operation.vt = VT_BSTR;
    operation.bstrVal = verb.Get();
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    hr = shell->ShellExecute(file.Get(), args, dir, operation, show);
    return FAILED(hr) ? static_cast<DWORD>(hr) : 0;
}

DWORD SystemUserStartOps::StartDirect(const std::wstring& program, const std::wstring& commandLine)
{
    return StartProcess(program, commandLine, nullptr);
}

DWORD SystemUserStartOps::OpenDirect(HWND owner, const std::wstring& target)
{
    const INT_PTR rc = reinterpret_cast<INT_PTR>(ShellExecuteW(owner, L"open", target.c_str(), nullptr, nullptr,
                                                               SW_SHOWNORMAL));
    return rc > 32 ? 0 : static_cast<DWORD>(rc);
}

UserStart StartAsSignedInUser(const std::wstring& program, const std::wstring& commandLine, IUserStartOps& ops)
{
    UserStart result;
    if (!ops.Elevated()) {
        // Already the user's own rights: nothing to drop.
        result.error = ops.StartDirect(program, commandLine);
        return result;
    }
    DWORD error = 0;
    if (HANDLE token = ops.ShellToken()) {
        error = ops.StartWithToken(token, program, commandLine);
        ops.CloseToken(token);
        if (error == 0) {
            result.route = StartRoute::kShellToken;
            return result;
        }
        OV_LOG(LOG_WARN, kSource, L"start with the shell's token failed:%u, starting directly: %s",
               static_cast<unsigned>(error), program.c_str());
    } else {
        error = GetLastError();
        OV_LOG(LOG_WARN, kSource, L"no shell token:%u, starting directly: %s", static_cast<unsigned>(error),
               program.c_str());
    }
    result.error = ops.StartDirect(program, commandLine);
    return result;
}

DWORD StartAsSignedInUser(const std::wstring& program, const std::wstring& commandLine)
{
    SystemUserStartOps ops;
    return StartAsSignedInUser(program, commandLine, ops).error;
}

UserStart OpenAsSignedInUser(HWND owner, const std::wstring& target, IUserStartOps& ops)
{
    UserStart result;
    if (ops.Elevated()) {
        const DWORD error = ops.OpenThroughShell(target);
        if (error == 0) {
            result.route = StartRoute::kShell;
            return result;
        }
        OV_LOG(LOG_WARN, kSource, L"the shell could not open it:0x%08x, opening directly: %s",
               static_cast<unsigned>(error), target.c_str());
    }
    result.error = ops.OpenDirect(owner, target);
    return result;
}

void OpenAsSignedInUser(HWND owner, const std::wstring& target)
{
    SystemUserStartOps ops;
    OpenAsSignedInUser(owner, target, ops);
}
