#include "Http/ProxySettings.h"

#include <winhttp.h>

#include <vector>

#include "Http/HttpLog.h"
#include "Runtime/ShellToken.h"

namespace {

const wchar_t kSource[] = L".\\Http\\ProxySettings";
const wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const wchar_t kMachineConnections[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
// Each step of fetching a script (name look-up, connect, send, receive).
const int kScriptStepMs = 5000;

std::wstring TakeGlobal(LPWSTR text)
{
    std::wstring out = text ? text : L"";
    if (text)
        GlobalFree(text);
    return out;
}

// The policy that gives every user of the machine the machine's settings.
bool MachineWidePolicy()
{
    DWORD value = 1, size = sizeof value;
    const LSTATUS rc = RegGetValueW(HKEY_LOCAL_MACHINE, kPolicyKey, L"ProxySettingsPerUser", RRF_RT_REG_DWORD, nullptr,
                                    &value, &size);
    return rc == ERROR_SUCCESS && value == 0;
}

ProxyConfig MachineConfig()
{
    ProxyConfig config;
    DWORD size = 0;
    LSTATUS rc = RegGetValueW(HKEY_LOCAL_MACHINE, kMachineConnections, L"DefaultConnectionSettings", RRF_RT_REG_BINARY,
                              nullptr, nullptr, &size);
    std::vector<uint8_t> blob(size);
    if (rc == ERROR_SUCCESS && size != 0)
        rc = RegGetValueW(HKEY_LOCAL_MACHINE, kMachineConnections, L"DefaultConnectionSettings", RRF_RT_REG_BINARY,
                          nullptr, blob.data(), &size);
    if (rc != ERROR_SUCCESS) {
        OV_LOG(LOG_WARN, kSource, L"machine-wide proxy policy, but no machine settings:%d", static_cast<int>(rc));
        return config;
    }
    blob.resize(size);
    if (!ParseConnectionSettings(blob, config))
        OV_LOG(LOG_ERROR, kSource, L"machine proxy settings unreadable (%u bytes)", static_cast<unsigned>(size));
    return config;
}

ProxyConfig CurrentUserConfig()
{
    ProxyConfig config;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&ie)) {
        OV_LOG(LOG_WARN, kSource, L"WinHttpGetIEProxyConfigForCurrentUser failed:%u", static_cast<unsigned>(GetLastError()));
        return config;
    }
    config.autoDetect = ie.fAutoDetect != FALSE;
    config.scriptUrl = TakeGlobal(ie.lpszAutoConfigUrl);
    config.proxy = TakeGlobal(ie.lpszProxy);
    config.bypass = TakeGlobal(ie.lpszProxyBypass);
    return config;
}

// The settings of the user at this desk: read as the shell's user when that
// is another account than this (elevated) process's.
ProxyConfig SignedInUserConfig()
{
    HANDLE shell = ProcessIsElevated() ? DuplicateProcessToken(ShellProcessId()) : nullptr;
    bool impersonating = false;
    if (shell && !SameUserAsProcess(shell)) {
        impersonating = ImpersonateLoggedOnUser(shell) != FALSE;
        if (!impersonating)
            OV_LOG(LOG_WARN, kSource, L"cannot act as the signed-in user:%u, reading this account's proxy settings",
                   static_cast<unsigned>(GetLastError()));
    }
    ProxyConfig config = CurrentUserConfig();
    if (impersonating && !RevertToSelf())
        OV_LOG(LOG_ERROR, kSource, L"RevertToSelf failed:%u", static_cast<unsigned>(GetLastError()));
    if (shell)
        CloseHandle(shell);
    if (impersonating)
        OV_LOG(LOG_INFO, kSource, L"proxy settings read as the signed-in user");
    return config;
}

// One WinHTTP session for every lookup of the run (WinHTTP keeps a fetched
// script with it); never closed, as a lookup that outlived its bound may
// still be using it.
HINTERNET Session()
{
    static const HINTERNET session = [] {
        HINTERNET s = WinHttpOpen(L"OvSetup", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
        if (!s)
            OV_LOG(LOG_ERROR, kSource, L"WinHttpOpen failed:%u", static_cast<unsigned>(GetLastError()));
        else if (!WinHttpSetTimeouts(s, kScriptStepMs, kScriptStepMs, kScriptStepMs, kScriptStepMs))
            OV_LOG(LOG_WARN, kSource, L"WinHttpSetTimeouts failed:%u", static_cast<unsigned>(GetLastError()));
        return s;
    }();
    return session;
}

// A lookup shared between the thread that runs it and the one that waits for
// it; whichever lets go last frees it.
struct LookupJob {
    volatile LONG refs = 2;
    HANDLE done = nullptr;
    IProxyPlatform::LookupKind kind = IProxyPlatform::kScript;
    std::wstring scriptUrl;
    std::wstring url;
    LookupOutcome outcome;
    DWORD error = 0;

    void Release()
    {
        if (InterlockedDecrement(&refs) == 0) {
            CloseHandle(done);
            delete this;
        }
    }
};

DWORD WINAPI RunLookup(void* param)
{
    LookupJob* job = static_cast<LookupJob*>(param);
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (job->kind == IProxyPlatform::kAutoDetect) {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = job->scriptUrl.c_str();
    }
    // A script server that asks who we are gets the user's own sign-on.
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info = {};
    HINTERNET session = Session();
    if (session && WinHttpGetProxyForUrl(session, job->url.c_str(), &options, &info)) {
        const std::wstring proxy = TakeGlobal(info.lpszProxy);
        TakeGlobal(info.lpszProxyBypass);
        job->outcome.ok = true;
        job->outcome.answer = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !proxy.empty() ? proxy : L"DIRECT";
    } else {
        job->error = GetLastError();
    }
    SetEvent(job->done);
    job->Release();
    return 0;
}

}  // namespace

ProxyConfig SystemProxyPlatform::ReadConfig()
{
    if (MachineWidePolicy()) {
        OV_LOG(LOG_INFO, kSource, L"proxy settings: the machine's (ProxySettingsPerUser=0)");
        return MachineConfig();
    }
    return SignedInUserConfig();
}

LookupOutcome SystemProxyPlatform::Lookup(LookupKind kind, const std::wstring& scriptUrl, const std::wstring& url)
{
    LookupJob* job = new LookupJob;
    job->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    job->kind = kind;
    job->scriptUrl = scriptUrl;
    job->url = url;
    HANDLE thread = job->done ? CreateThread(nullptr, 0, &RunLookup, job, 0, nullptr) : nullptr;
    if (!thread) {
        OV_LOG(LOG_ERROR, kSource, L"proxy lookup thread failed:%u", static_cast<unsigned>(GetLastError()));
        if (job->done)
            CloseHandle(job->done);
        delete job;
        return LookupOutcome();
    }
    CloseHandle(thread);
    const DWORD limit = kind == kAutoDetect ? kAutoDetectLimitMs : kScriptLimitMs;
    LookupOutcome outcome;
    if (WaitForSingleObject(job->done, limit) == WAIT_OBJECT_0) {
        outcome = job->outcome;
        if (!outcome.ok)
            OV_LOG(LOG_WARN, kSource, L"proxy %s failed:%u url:%s", kind == kAutoDetect ? L"auto-detection" : L"script",
                   static_cast<unsigned>(job->error), url.c_str());
    } else {
        // Left to finish on its own; its answer is not waited for.
        OV_LOG(LOG_WARN, kSource, L"proxy %s gave no answer within %u ms url:%s",
               kind == kAutoDetect ? L"auto-detection" : L"script", static_cast<unsigned>(limit), url.c_str());
    }
    job->Release();
    return outcome;
}
