#pragma once
// Starting what the installer hands over to with the signed-in user's normal
// rights, never with the installer's own.
//
// The installer runs elevated, and a program it starts directly inherits
// administrator rights it never asked for: the launcher (after installation,
// or at once when one is already installed) and the browser that shows the
// licence page. The launcher lies in the install directory, which standard
// users may change, so such a start would run their program elevated. So:
// 1. the launcher starts with a copy of the desktop shell process's token
//    (CreateProcessWithTokenW, its command line exactly as given);
// 2. a launcher that demands elevation through its manifest (the start fails
//    with ERROR_ELEVATION_REQUIRED) is opened by the shell's own ShellExecute
//    instead: the user then sees Windows' own prompt, as for any program;
// 3. with no shell (a service session, another shell than Explorer) or when
//    the shell's token cannot start it, this process's token lowered to a
//    standard user's starts it: Administrators and the other administrative
//    groups deny-only, no privileges but the change-notify one, medium
//    integrity, the user as default owner;
// 4. when that fails too, nothing starts: the caller tells the user.
// The licence page: the shell's ShellExecute, else the system's URL handler
// (rundll32 url.dll,FileProtocolHandler) under the lowered token, else
// nothing. A process that is not elevated starts both directly: its own
// token is already the user's.
//
// The choice sits on a few platform operations (IUserStartOps) so that every
// branch can be tested; the product uses SystemUserStartOps.
//
// Threads: UI thread. The shell's ShellExecute goes through the shell's COM
// objects, which need COM initialised on the calling thread.

#include <windows.h>

#include <string>

// ERROR_ELEVATION_REQUIRED: the program's manifest demands administrator
// rights (the cross compiler's headers lack the name).
const DWORD kErrorElevationRequired = 740;

class IUserStartOps {
public:
    // True when this process runs elevated, and when that cannot be told:
    // only a token known to hold no administrator rights is used as it is.
    virtual bool Elevated() = 0;
    // A primary token of the desktop shell's process, or null when there is no
    // shell or its token cannot be had (the reason in the last error).
    virtual HANDLE ShellToken() = 0;
    // This process's token lowered to a standard user's (see above), or null
    // with the reason in the last error.
    virtual HANDLE LoweredToken() = 0;
    virtual void CloseToken(HANDLE token) = 0;
    // Starts `program` with `commandLine` under the shell's `token`, or under
    // the lowered one; 0 or the system error.
    virtual DWORD StartWithShellToken(HANDLE token, const std::wstring& program, const std::wstring& commandLine) = 0;
    virtual DWORD StartWithLoweredToken(HANDLE token, const std::wstring& program,
                                        const std::wstring& commandLine) = 0;
    // The shell's own ShellExecute "open" of `target` with `parameters`; 0 or
    // an error.
    virtual DWORD OpenThroughShell(const std::wstring& target, const std::wstring& parameters) = 0;
    // The direct starts, for a process that is not elevated: StartProcess,
    // and ShellExecuteW "open".
    virtual DWORD StartDirect(const std::wstring& program, const std::wstring& commandLine) = 0;
    virtual DWORD OpenDirect(HWND owner, const std::wstring& target) = 0;

protected:
    ~IUserStartOps() = default;
};

class SystemUserStartOps : public IUserStartOps {
public:
    bool Elevated() override;
    HANDLE ShellToken() override;
    HANDLE LoweredToken() override;
    void CloseToken(HANDLE token) override;
    DWORD StartWithShellToken(HANDLE token, const std::wstring& program, const std::wstring& commandLine) override;
    DWORD StartWithLoweredToken(HANDLE token, const std::wstring& program, const std::wstring& commandLine) override;
    DWORD OpenThroughShell(const std::wstring& target, const std::wstring& parameters) override;
    DWORD StartDirect(const std::wstring& program, const std::wstring& commandLine) override;
    DWORD OpenDirect(HWND owner, const std::wstring& target) override;
    virtual ~SystemUserStartOps() = default;

protected:
    // The process that owns the shell's desktop window; 0 when none.
    virtual DWORD ShellProcessId();
};

enum class StartRoute {
    kNone,          // nothing was started (the error says why)
    kShellToken,    // started with the shell process's token
    kShell,         // opened by the shell itself
    kLoweredToken,  // started with this process's token lowered to a standard user's
    kDirect,        // started by this process, which is not elevated
};

struct UserStart {
    StartRoute route = StartRoute::kNone;
    DWORD error = 0;  // 0 once started
};

// Starts `program` with `commandLine` (see StartProcess: the program's path
// is its first token, and the rest are the parameters the shell is given).
UserStart StartAsSignedInUser(const std::wstring& program, const std::wstring& commandLine, IUserStartOps& ops);
// With the system's operations: 0 or the system error of the start.
DWORD StartAsSignedInUser(const std::wstring& program, const std::wstring& commandLine);

// Opens `target` (the licence page's address) as the shell's "open" would.
UserStart OpenAsSignedInUser(HWND owner, const std::wstring& target, IUserStartOps& ops);
// With the system's operations: 0 or the error that kept the page closed.
DWORD OpenAsSignedInUser(HWND owner, const std::wstring& target);
