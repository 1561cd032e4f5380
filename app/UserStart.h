#pragma once
// Starting what the installer hands over to with the signed-in user's normal
// rights.
//
// The installer runs elevated, and a program it starts directly inherits
// administrator rights it never asked for: the launcher (after installation,
// or at once when one is already installed) and the browser that shows the
// licence page. So these are started through the desktop shell, which runs
// with the signed-in user's rights: the launcher with a copy of the shell
// process's token (CreateProcessWithTokenW, so its command line stays exactly
// as given), the licence page by the shell's own ShellExecute. Where that is
// impossible (no shell, or the call fails) they are started directly as
// before, and that is logged. A launcher that needs elevation asks for it
// through its own manifest, as any program does.
//
// The choice sits on a few platform operations (IUserStartOps) so that every
// branch can be tested; the product uses SystemUserStartOps.
//
// Threads: UI thread. The licence page goes through the shell's COM objects,
// which need COM initialised on the calling thread.

#include <windows.h>

#include <string>

class IUserStartOps {
public:
    // True when this process runs elevated: only then are there rights to drop.
    virtual bool Elevated() = 0;
    // A primary token of the desktop shell's process, or null when there is no
    // shell or its token cannot be had (the reason in the last error).
    virtual HANDLE ShellToken() = 0;
    virtual void CloseToken(HANDLE token) = 0;
    // Starts `program` with `commandLine` under `token`; 0 or the system error.
    virtual DWORD StartWithToken(HANDLE token, const std::wstring& program, const std::wstring& commandLine) = 0;
    // The shell's own ShellExecute "open" of `target`; 0 or an error.
    virtual DWORD OpenThroughShell(const std::wstring& target) = 0;
    // The direct starts: StartProcess, and ShellExecuteW "open".
    virtual DWORD StartDirect(const std::wstring& program, const std::wstring& commandLine) = 0;
    virtual DWORD OpenDirect(HWND owner, const std::wstring& target) = 0;

protected:
    ~IUserStartOps() = default;
};

class SystemUserStartOps : public IUserStartOps {
public:
    bool Elevated() override;
    HANDLE ShellToken() override;
    void CloseToken(HANDLE token) override;
    DWORD StartWithToken(HANDLE token, const std::wstring& program, const std::wstring& commandLine) override;
    DWORD OpenThroughShell(const std::wstring& target) override;
    DWORD StartDirect(const std::wstring& program, const std::wstring& commandLine) override;
    DWORD OpenDirect(HWND owner, const std::wstring& target) override;
    virtual ~SystemUserStartOps() = default;

protected:
    // The process that owns the shell's desktop window; 0 when none.
    virtual DWORD ShellProcessId();
};

enum class StartRoute {
    kShellToken,  // started with the shell process's token
    kShell,       // opened by the shell itself
    kDirect,      // started by this process, with its rights
};

struct UserStart {
    StartRoute route = StartRoute::kDirect;
    DWORD error = 0;  // 0 once started
};

// Starts `program` with `commandLine` exactly as given (see StartProcess).
UserStart StartAsSignedInUser(const std::wstring& program, const std::wstring& commandLine, IUserStartOps& ops);
// With the system's operations: 0 or the system error of the start.
DWORD StartAsSignedInUser(const std::wstring& program, const std::wstring& commandLine);

// Opens `target` (the licence page's address) as the shell's "open" would.
UserStart OpenAsSignedInUser(HWND owner, const std::wstring& target, IUserStartOps& ops);
void OpenAsSignedInUser(HWND owner, const std::wstring& target);
