#pragma once
// The package file, held open from its check until its process exists.
//
// The package runs with administrator rights, so the bytes that start must be
// the bytes that were checked. The file is opened so that nobody else may
// write, delete or rename it (others may only read), checked through that
// handle (publisher signature and the release it names, then the manifest's
// MD5), renamed into place through the same handle, and released only once
// CreateProcess of it has returned. Windows and Wine both enforce share modes, so another process's
// attempt fails with a sharing violation for that whole span.
//
// Threads: UI thread (an object belongs to one owner; it is not shared).
// Ownership: owns its handle; the destructor releases it.

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "Updater/PackageCheck.h"
#include "Updater/PublisherSignature.h"
#include "Updater/ReleasePolicy.h"

// The outcome of checking a held package.
enum class PackageVerdict {
    kOk,
    kSignature,  // the publisher signature is missing, malformed or wrong
    kRelease,    // the signature is good, but names another release (ReleasePolicy.h)
    kChecksum,   // the manifest's MD5 does not match, or the file could not be read
};

class LockedPackage {
public:
    LockedPackage() = default;
    ~LockedPackage() { Release(); }

    // Opens `path` to read it, and to rename it when `renamable`; others may
    // only read it from now on. False (with the system's error as the last
    // error) when it is missing or another program has it open to write or
    // delete. A package already held is released first.
    bool Open(const std::wstring& path, bool renamable);
    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return file_; }
    const std::wstring& Path() const { return path_; }

    // The publisher signature `signatureFile` over the held bytes and the
    // version its trusted comment names (`manifestVersion`, or for a shipped
    // package, null, at least `policy`'s floor; both skipped in a build
    // without keys), then `md5` when one is given. `status` receives the
    // signature's status when not null.
    PackageVerdict Verify(const PublisherKeys& keys, const ReleasePolicy& policy, const std::string& signatureFile,
                          const std::wstring* manifestVersion, const std::wstring& md5,
                          SignatureStatus* status = nullptr) const;

    // Gives the held file the name `newPath` (same volume), replacing a file
    // of that name unless that one is in use, without ever letting go of it.
    // False with the last error set when it cannot; the file then keeps its
    // old name and stays held.
    bool RenameTo(const std::wstring& newPath);

    // Lets the file go: others may change it again.
    void Release();

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::wstring path_;

    LockedPackage(const LockedPackage&) = delete;
    LockedPackage& operator=(const LockedPackage&) = delete;
};

// At most this many bytes of a signature file are read or accepted: minisign
// writes about 300, and a larger answer is not a signature.
const size_t kMaxSignatureFileBytes = 4096;

// The first kMaxSignatureFileBytes + 1 bytes of the file at `path` (so a
// caller can tell an oversized file), or false when it cannot be read.
bool ReadSignatureFile(const std::wstring& path, std::string& text);

// A package shipped beside the program ("ovinstaller.exe" with its marker
// "ovmain.dll"), usually in a Downloads folder others may write to: it is
// read through a handle that denies writing (so the bytes copied are one
// file's, whatever else happens to the name) into a fresh file at
// `stagedPath` in the staging folder, and that copy is locked and checked
// against "<shippedPath>.minisig" (in a build with keys) like a download.
// The package that runs is the copy; the shipped file is never changed.
// Its signature's trusted comment must name a version no lower than
// `policy`'s floor. False, with the package released and the copy deleted,
// when it cannot be read or copied or its signature is missing, wrong or of
// an older release: the caller then downloads the package as if none were
// shipped.
bool StageShippedPackage(LockedPackage& package, const std::wstring& shippedPath, const std::wstring& stagedPath,
                         const PublisherKeys& keys, const ReleasePolicy& policy);
