#include "app/SingleInstance.h"

#include <aclapi.h>

#include "Runtime/FileSecurity.h"
#include "Runtime/Logger.h"
#include "Runtime/UniqueHandle.h"

namespace {

const wchar_t kSource[] = L".\\SingleInstance";
// Owned by Administrators; only SYSTEM and Administrators may open it.
const wchar_t kMutexSddl[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

bool ProcessIsElevated(DWORD pid)
{
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    UniqueHandle token;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return process && OpenProcessToken(process.Get(), TOKEN_QUERY, token.Receive()) &&
           GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated;
}

struct WindowSearch {
    const wchar_t* windowClass;
    HWND found;
};

BOOL CALLBACK FindInstallerWindow(HWND hwnd, LPARAM param)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    wchar_t name[64] = {};
    if (!GetClassNameW(hwnd, name, 64) || wcscmp(name, search->windowClass) != 0 || !IsWindowVisible(hwnd))
        return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId() || !ProcessIsElevated(pid))
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

}  // namespace

HANDLE SystemSingleInstanceOps::CreateOrOpen(bool* existed)
{
    const SecurityDescriptor sd = SecurityDescriptor::FromSddl(kMutexSddl);
    SECURITY_ATTRIBUTES sa = {sizeof sa, sd.Get(), FALSE};
    HANDLE mutex = CreateMutexW(&sa, FALSE, name_.c_str());
    *existed = mutex && GetLastError() == ERROR_ALREADY_EXISTS;
    return mutex;
}

bool SystemSingleInstanceOps::OwnedByAdministrators(HANDLE mutex)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                        &sd) != ERROR_SUCCESS)
        return false;
    const bool admins = ::OwnedByAdministrators(sd);
    LocalFree(sd);
    return admins;
}

void SystemSingleInstanceOps::Close(HANDLE mutex)
{
    CloseHandle(mutex);
}

SingleInstance::~SingleInstance()
{
    if (mutex_ && ops_)
        ops_->Close(mutex_);
}

InstanceClaim SingleInstance::Claim(ISingleInstanceOps& ops)
{
    bool existed = false;
    HANDLE mutex = ops.CreateOrOpen(&existed);
    if (!mutex) {
        // Our own mutex grants every elevated installer access: one that
        // refuses us is someone else's.
        OV_LOG(LOG_WARN, kSource, L"one-installer mutex unusable:%u, running unguarded",
               static_cast<unsigned>(GetLastError()));
        return InstanceClaim::kUnguarded;
    }
    if (!existed) {
        ops_ = &ops;
        mutex_ = mutex;
        return InstanceClaim::kFirst;
    }
    const bool ours = ops.OwnedByAdministrators(mutex);
    ops.Close(mutex);
    if (ours)
        return InstanceClaim::kAnotherIsRunning;
    OV_LOG(LOG_WARN, kSource, L"one-installer mutex made by someone else, running unguarded");
    return InstanceClaim::kUnguarded;
}

bool BringFirstInstallerToFront(const wchar_t* windowClass, DWORD waitMs)
{
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        WindowSearch search = {windowClass, nullptr};
        EnumWindows(&FindInstallerWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            if (IsIconic(search.found))
                ShowWindow(search.found, SW_RESTORE);
            // This process was just started by the user, so it may hand the
            // foreground on.
            SetForegroundWindow(search.found);
            return true;
        }
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(100);
    }
}
