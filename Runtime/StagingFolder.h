#pragma once
// The folder the elevated installer keeps what it writes and runs in (the
// partial download, the package, the manifest copy): one that only SYSTEM
// and Administrators may change. Nobody else can plant a file there (a DLL
// for the package, which runs elevated with this folder as its current
// directory), write through a name the installer uses, or turn the folder
// into a link or mount point.
//
// It lies under a parent where standard users may create folders of their
// own (the common application-data folder), so a folder of that name may
// already be someone else's. The folder `name` is used when it exists, is a
// folder (no link, no mount point) and passes the owner-and-DACL check of
// FileSecurity.h; when missing it is made with the staging descriptor. In
// every other case a folder of a new, unguessable name ("<name>-<8 hex
// digits>") is made for this run only, and removed with its files when it is
// let go (nothing in it can be resumed by a later run).
//
// The folder is held open (DirectoryPin) from its check until Release, so
// neither it nor a folder above it can be renamed or replaced meanwhile.
//
// Threads: any; an object belongs to one thread.
// Ownership: owns its pin; the destructor releases it.

#include <windows.h>

#include <string>

#include "Runtime/FileSecurity.h"
#include "Runtime/PathSafety.h"

// Reads the descriptor an existing folder is judged on, through the held
// handle. The product reads the folder's own (SecurityDescriptor::OfFile);
// tests give the descriptors Windows would have set (Wine keeps none).
using FolderDescriptorReader = SecurityDescriptor (*)(HANDLE folder);

class StagingFolder {
public:
    StagingFolder() = default;
    ~StagingFolder() { Release(); }

    // Finds or makes the folder under `parent` (see above). False when none
    // could be had (the parent is missing or has a link on its path, or no
    // folder could be made); the last error then tells why. A folder held
    // before is let go first.
    bool Prepare(const std::wstring& parent, const std::wstring& name, FolderDescriptorReader reader);

    bool Ready() const { return pin_.Pinned(); }
    // Empty until Prepare succeeds.
    const std::wstring& Path() const { return path_; }
    // True when Path() was made for this run because `name` could not be used.
    bool ForThisRunOnly() const { return runOnly_; }

    // Lets the folder go; one made for this run only is removed with the
    // files in it.
    void Release();

private:
    // Makes or checks one candidate; true when it is held and safe to use.
    bool TryCandidate(const std::wstring& path, bool mayExist, FolderDescriptorReader reader);

    DirectoryPin pin_;
    std::wstring path_;
    bool runOnly_ = false;

    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
};
