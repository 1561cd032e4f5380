#include "app/UserStart.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

#include <sddl.h>

#include <vector>

#include "Runtime/FileSecurity.h"
#include "Runtime/Logger.h"
#include "Runtime/ProcessStart.h"
#include "Runtime/ShellToken.h"
#include "Runtime/UniqueHandle.h"

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
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return true;  // unknown: never started as it is
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool known = GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) != FALSE;
    return !known || elevation.TokenIsElevated;
}

DWORD SystemUserStartOps::ShellProcessId()
{
    return ::ShellProcessId();
}

HANDLE SystemUserStartOps::ShellToken()
{
    return DuplicateProcessToken(ShellProcessId());
}

namespace {

std::wstring SidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return std::wstring();
    std::wstring result = text;
    LocalFree(text);
    return result;
}

// A token's information of `klass` into `buffer`; false on failure.
bool TokenInfo(HANDLE token, TOKEN_INFORMATION_CLASS klass, std::vector<BYTE>& buffer)
{
    DWORD size = 0;
    GetTokenInformation(token, klass, nullptr, 0, &size);
    if (size == 0)
        return false;
    buffer.resize(size);
    return GetTokenInformation(token, klass, buffer.data(), size, &size) != FALSE;
}

// Makes `token` a standard user's in what it carries by default: medium
// integrity, the user as owner of what it creates, and a default DACL of the
// user and SYSTEM (an elevated token's gives Administrators instead).
bool LowerDefaults(HANDLE token)
{
    PSID medium = nullptr;
    if (!ConvertStringSidToSidW(L"S-1-16-8192", &medium))
        return false;
    TOKEN_MANDATORY_LABEL label = {{medium, SE_GROUP_INTEGRITY}};
    bool ok = SetTokenInformation(token, TokenIntegrityLevel, &label, sizeof label + GetLengthSid(medium)) != FALSE;
    LocalFree(medium);
    std::vector<BYTE> user, owner;
    if (!ok || !TokenInfo(token, TokenUser, user) || !TokenInfo(token, TokenOwner, owner))
        return false;
    PSID userSid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    // An elevated token's default owner is Administrators, which the
    // lowered token may not use any more; any other owner stays.
    const std::wstring ownerSddl = L"O:" + SidText(reinterpret_cast<TOKEN_OWNER*>(owner.data())->Owner);
    if (OwnedByAdministrators(SecurityDescriptor::FromSddl(ownerSddl).Get())) {
        TOKEN_OWNER userOwner = {userSid};
        if (!SetTokenInformation(token, TokenOwner, &userOwner, sizeof userOwner))
            return false;
    }
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof system;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize))
        return false;
    const DWORD aclSize = sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(userSid) + systemSize;
    std::vector<DWORD> aclBuffer((aclSize + sizeof(DWORD) - 1) / sizeof(DWORD));
    PACL acl = reinterpret_cast<PACL>(aclBuffer.data());
    if (!InitializeAcl(acl, aclSize, ACL_REVISION) || !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, userSid) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, system))
        return false;
    TOKEN_DEFAULT_DACL dacl = {acl};
    return SetTokenInformation(token, TokenDefaultDacl, &dacl, sizeof dacl) != FALSE;
}

}  // namespace

HANDLE SystemUserStartOps::LoweredToken()
{
    UniqueHandle self;
    // The lowered copy has the same rights as this handle: its defaults are
    // adjusted below.
    const DWORD access = TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT;
    if (!OpenProcessToken(GetCurrentProcess(), access, self.Receive()))
        return nullptr;
    // The groups that make a token an administrator's become deny-only, as
    // in the token UAC's filter gives an administrator's programs:
    // Administrators, Power Users, "local account and member of
    // Administrators". (A group the token does not have is ignored.)
    const wchar_t* const adminGroups[] = {L"S-1-5-32-544", L"S-1-5-32-547", L"S-1-5-114"};
    PSID sids[3] = {};
    SID_AND_ATTRIBUTES disable[3] = {};
    DWORD count = 0;
    for (const wchar_t* group : adminGroups) {
        if (ConvertStringSidToSidW(group, &sids[count]))
            disable[count].Sid = sids[count], ++count;
    }
    UniqueHandle lowered;
    if (!CreateRestrictedToken(self.Get(), DISABLE_MAX_PRIVILEGE, count, disable, 0, nullptr, 0, nullptr,
                               lowered.Receive()))
        lowered.Reset();
    DWORD error = GetLastError();
    for (DWORD i = 0; i < count; ++i)
        LocalFree(sids[i]);
    if (lowered && !LowerDefaults(lowered.Get())) {
        error = GetLastError();
        lowered.Reset();
    }
    SetLastError(error);
    // The seam hands tokens out raw; CloseToken takes them back.
    return lowered.Release();
}

void SystemUserStartOps::CloseToken(HANDLE token)
{
    if (token)
        CloseHandle(token);
}

namespace {

// One start under `token`: `how` is CreateProcessWithTokenW or
// CreateProcessAsUserW. 0 or the system error; the handles are closed.
template <typename How>
DWORD StartUnder(How how, const std::wstring& commandLine)
{
    // The call may write into the command line, so it gets its own copy.
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!how(cmd.data(), &si, &pi))
        return GetLastError();
    const UniqueProcess started(pi);  // not waited for: closed here
    return 0;
}

}  // namespace

DWORD SystemUserStartOps::StartWithShellToken(HANDLE token, const std::wstring& program,
                                              const std::wstring& commandLine)
{
    return StartUnder(
        [&](wchar_t* cmd, STARTUPINFOW* si, PROCESS_INFORMATION* pi) {
            return CreateProcessWithTokenW(token, 0, program.c_str(), cmd, 0, nullptr, nullptr, si, pi);
        },
        commandLine);
}

DWORD SystemUserStartOps::StartWithLoweredToken(HANDLE token, const std::wstring& program,
                                                const std::wstring& commandLine)
{
    // A restricted copy of this process's own token needs no privilege to
    // be assigned.
    return StartUnder(
        [&](wchar_t* cmd, STARTUPINFOW* si, PROCESS_INFORMATION* pi) {
            return CreateProcessAsUserW(token, program.c_str(), cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, si,
                                        pi);
        },
        commandLine);
}

DWORD SystemUserStartOps::OpenThroughShell(const std::wstring& target, const std::wstring& parameters)
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
    Bstr params(parameters);
    VARIANT args, dir, operation, show;
    VariantInit(&args);
    VariantInit(&dir);
    VariantInit(&operation);
    VariantInit(&show);
    if (!parameters.empty()) {
        args.vt = VT_BSTR;
        args.bstrVal = params.Get();
    }
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

namespace {

// A token the seam handed out, given back to it on every path out.
class SeamToken {
public:
    SeamToken(IUserStartOps& ops, HANDLE token) : ops_(ops), token_(token) {}
    ~SeamToken()
    {
        if (token_)
            ops_.CloseToken(token_);
    }
    HANDLE Get() const { return token_; }
    explicit operator bool() const { return token_ != nullptr; }

private:
    IUserStartOps& ops_;
    HANDLE token_;
    SeamToken(const SeamToken&) = delete;
    SeamToken& operator=(const SeamToken&) = delete;
};

// The parameters of a command line whose first token is `program`'s path.
std::wstring ParametersOf(const std::wstring& program, const std::wstring& commandLine)
{
    if (commandLine.compare(0, program.size(), program) != 0)
        return commandLine;
    const size_t rest = commandLine.find_first_not_of(L' ', program.size());
    return rest == std::wstring::npos ? std::wstring() : commandLine.substr(rest);
}

UserStart Started(StartRoute route)
{
    UserStart result;
    result.route = route;
    return result;
}

UserStart NotStarted(DWORD error)
{
    UserStart result;
    result.error = error != 0 ? error : static_cast<DWORD>(ERROR_ACCESS_DENIED);
    return result;
}

// The program asks for elevation itself: the shell starts it, so Windows asks
// the user, as for any program they start.
UserStart ThroughShell(const std::wstring& program, const std::wstring& commandLine, IUserStartOps& ops)
{
    const DWORD error = ops.OpenThroughShell(program, ParametersOf(program, commandLine));
    if (error == 0)
        return Started(StartRoute::kShell);
    OV_LOG(LOG_ERROR, kSource, L"the shell could not start it:0x%08x, not started: %s", static_cast<unsigned>(error),
           program.c_str());
    return NotStarted(error);
}

}  // namespace

UserStart StartAsSignedInUser(const std::wstring& program, const std::wstring& commandLine, IUserStartOps& ops)
{
    if (!ops.Elevated()) {
        // Already the user's own rights: nothing to drop.
        UserStart result = Started(StartRoute::kDirect);
        result.error = ops.StartDirect(program, commandLine);
        if (result.error != 0)
            result.route = StartRoute::kNone;
        return result;
    }
    bool shell = false;
    if (const SeamToken token{ops, ops.ShellToken()}) {
        shell = true;
        const DWORD error = ops.StartWithShellToken(token.Get(), program, commandLine);
        if (error == 0)
            return Started(StartRoute::kShellToken);
        if (error == kErrorElevationRequired)
            return ThroughShell(program, commandLine, ops);
        OV_LOG(LOG_WARN, kSource, L"start with the shell's token failed:%u, lowering this one: %s",
               static_cast<unsigned>(error), program.c_str());
    } else {
        OV_LOG(LOG_WARN, kSource, L"no shell token:%u, lowering this one: %s", static_cast<unsigned>(GetLastError()),
               program.c_str());
    }
    const SeamToken lowered{ops, ops.LoweredToken()};
    if (!lowered) {
        const DWORD error = GetLastError();
        OV_LOG(LOG_ERROR, kSource, L"no lowered token:%u, not started: %s", static_cast<unsigned>(error),
               program.c_str());
        return NotStarted(error);
    }
    const DWORD error = ops.StartWithLoweredToken(lowered.Get(), program, commandLine);
    if (error == 0)
        return Started(StartRoute::kLoweredToken);
    if (error == kErrorElevationRequired && shell)
        return ThroughShell(program, commandLine, ops);
    OV_LOG(LOG_ERROR, kSource, L"start with the lowered token failed:%u, not started: %s", static_cast<unsigned>(error),
           program.c_str());
    return NotStarted(error);
}

DWORD StartAsSignedInUser(const std::wstring& program, const std::wstring& commandLine)
{
    SystemUserStartOps ops;
    return StartAsSignedInUser(program, commandLine, ops).error;
}

UserStart OpenAsSignedInUser(HWND owner, const std::wstring& target, IUserStartOps& ops)
{
    if (!ops.Elevated()) {
        const DWORD error = ops.OpenDirect(owner, target);
        return error == 0 ? Started(StartRoute::kDirect) : NotStarted(error);
    }
    DWORD error = ops.OpenThroughShell(target, std::wstring());
    if (error == 0)
        return Started(StartRoute::kShell);
    OV_LOG(LOG_WARN, kSource, L"the shell could not open it:0x%08x, lowering this process's token: %s",
           static_cast<unsigned>(error), target.c_str());
    // The system's own handler for an address, started with a standard
    // user's rights, opens the default browser as the shell would.
    wchar_t system[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return NotStarted(GetLastError());
    const std::wstring rundll = std::wstring(system) + L"\\rundll32.exe";
    const SeamToken lowered{ops, ops.LoweredToken()};
    if (!lowered)
        return NotStarted(GetLastError());
    error = ops.StartWithLoweredToken(lowered.Get(), rundll, rundll + L" url.dll,FileProtocolHandler " + target);
    if (error == 0)
        return Started(StartRoute::kLoweredToken);
    OV_LOG(LOG_ERROR, kSource, L"the licence page could not be opened:%u: %s", static_cast<unsigned>(error),
           target.c_str());
    return NotStarted(error);
}

DWORD OpenAsSignedInUser(HWND owner, const std::wstring& target)
{
    SystemUserStartOps ops;
    return OpenAsSignedInUser(owner, target, ops).error;
}
