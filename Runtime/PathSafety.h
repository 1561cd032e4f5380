#pragma once
// Links on the package directory's path, and keeping that path fixed while
// the installer works in it.
//
// The installer creates, deletes, renames and starts its files in the package
// directory with administrator rights. The default directory lies under the
// root of a drive, where on Windows 10/11 every folder created inherits write
// access for all authenticated users: a standard user could put a junction or
// symbolic link on the way and send those elevated operations anywhere. So a
// path with a link on it is refused, and once the directory exists it is held
// open so that nothing on the path can be swapped afterwards.
//
// Threads: any; DirectoryPin objects belong to one thread at a time.

#include <windows.h>

#include <string>

enum class PathVerdict {
    kSafe,
    kLink,          // a junction, symbolic link or mount point on the path
    kFileInTheWay,  // a file where a folder of the path must be
};

struct PathCheck {
    PathVerdict verdict = PathVerdict::kSafe;
    std::wstring at;  // the offending part of the path (empty when safe)
};

// Looks at each existing folder of `dir`, from the first one below the drive
// (or share) root down to `dir` itself; the walk ends at the first part that
// does not exist yet (whoever creates it checks again afterwards). The root
// is a volume, never a link (Wine shows its drive letters, which are Unix
// symbolic links, as links). Reparse points that do not redirect a name
// (compressed or cloud files, for example) are not links.
PathCheck CheckPathForLinks(const std::wstring& dir);

// Holds a directory open without delete sharing: nobody can delete or rename
// it, and the file system refuses to rename any folder above it while
// something inside is open, so a path checked after pinning stays the path
// used until the pin is released.
class DirectoryPin {
public:
    DirectoryPin() = default;
    ~DirectoryPin() { Release(); }

    // Pins `dir`, an existing directory that is not itself a link. False (the
    // last error set) otherwise; a previous pin is released first.
    bool Pin(const std::wstring& dir);
    void Release();
    bool Pinned() const { return handle_ != INVALID_HANDLE_VALUE; }
    // The held directory, open to read its attributes and its descriptor.
    HANDLE Handle() const { return handle_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;

    DirectoryPin(const DirectoryPin&) = delete;
    DirectoryPin& operator=(const DirectoryPin&) = delete;
};
