#pragma once
// One installer at a time. Two installers would download into the same
// staging folder and run the package twice into one directory (a double click
// while UAC's prompt is slow starts two). So a second start brings the first
// installer's window to the front and ends with exit code 0 before it touches
// any file.
//
// The installers meet at a mutex named in the machine-wide namespace
// ("Global\OvSetup.OneInstaller"), where any user may create objects: the name
// alone proves nothing. The mutex is created owned by Administrators, with a
// DACL giving only SYSTEM and Administrators access, and one that already
// exists counts as another installer's only when SYSTEM or Administrators own
// it: a standard user cannot make an object with that owner. One a standard
// user made first (to squat the name) neither stops this installer nor holds
// it back: the run goes on unguarded, and the log says so. A squatter can
// thus take away the guard, but never the installer.
//
// Threads: UI thread, at start-up (before any window or file).
// Ownership: SingleInstance holds the mutex for the life of the process.

#include <windows.h>

#include <string>

enum class InstanceClaim {
    kFirst,             // this is the only installer; the mutex is held
    kAnotherIsRunning,  // another installer (an administrators' mutex) runs
    kUnguarded,         // the name is someone else's, or unusable: run anyway
};

class ISingleInstanceOps {
public:
    // Creates the mutex, or opens it when it exists (`existed` true then);
    // null with the last error when neither can be done.
    virtual HANDLE CreateOrOpen(bool* existed) = 0;
    // True when SYSTEM or Administrators own `mutex`.
    virtual bool OwnedByAdministrators(HANDLE mutex) = 0;
    virtual void Close(HANDLE mutex) = 0;

protected:
    ~ISingleInstanceOps() = default;
};

class SystemSingleInstanceOps : public ISingleInstanceOps {
public:
    // The product's name by default; tests give their own.
    explicit SystemSingleInstanceOps(const std::wstring& name = L"Global\\OvSetup.OneInstaller") : name_(name) {}
    HANDLE CreateOrOpen(bool* existed) override;
    bool OwnedByAdministrators(HANDLE mutex) override;
    void Close(HANDLE mutex) override;
    virtual ~SystemSingleInstanceOps() = default;

private:
    std::wstring name_;
};

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();

    // Decides this process's part; the mutex stays held only for kFirst.
    InstanceClaim Claim(ISingleInstanceOps& ops);

private:
    ISingleInstanceOps* ops_ = nullptr;
    HANDLE mutex_ = nullptr;

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
};

// Brings the first installer's window (class `windowClass`, of another,
// elevated process: a standard user's window of that class is not ours) to
// the front, waiting up to `waitMs` for it to appear (the first installer
// may have started a moment ago). False when none was found.
bool BringFirstInstallerToFront(const wchar_t* windowClass, DWORD waitMs);
