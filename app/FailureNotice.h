#pragma once
// What the install window tells its user about a failure, decided from the
// result pair alone: one table maps (stage, error type, code) to a kind of
// notice, and each kind has one short text. A new result code gets its notice
// by adding a row to the table in FailureNotice.cpp.
//
// What can be told apart, and what cannot:
// - A package that fails its check (checksum or publisher signature) is its
//   own kind: downloading it again at once would bring the same bytes. So is
//   a signed release the build refuses (an old version, an expired or
//   incomplete manifest, a package signed as another version).
// - The local side: a temporary file that cannot be opened (sys 2020), a write
//   the system refused (sys errors of the file, "disk full" among them), a
//   write libcurl gave up on after its retries (curl 23: the engine only knows
//   the write failed), an old package that cannot be replaced. Only "disk
//   full" names its cause; for
//   the others the free space on the package's volume decides between "full"
//   and "cannot write" (fewer free bytes than the download still needs).
// - Everything else (HTTP statuses, transfer errors, a wrong length) is the
//   network's or the server's.
// A refused package directory (3020-3029, IsPackageDirRefusal) is not here:
// the update module words those notices itself, and they are not retried.
//
// Threads: any; no state.

#include <cstdint>

enum class FailureStage { kManifest, kDownload };

enum class NoticeKind {
    kNetwork,
    kDiskFull,
    kDiskUnwritable,
    kPackageCheck,
    // The proxy wants credentials the user's sign-on does not give.
    kProxyAuth,
    // The installer could not set itself up (its message window).
    kSystem,
    // The hand-over: what could not be started.
    kPackageStart,
    kLauncherStart,
    // A close request while the package runs.
    kInstalling,
    // The licence page could not be opened with the user's rights.
    kLicencePage,
};

struct FailureFacts {
    FailureStage stage = FailureStage::kDownload;
    int errType = 0;
    int code = 0;
    // Free bytes on the package's volume, when the system could tell.
    bool freeKnown = false;
    uint64_t freeBytes = 0;
    // Bytes the download still needs.
    uint64_t neededBytes = 0;
};

NoticeKind ClassifyFailure(const FailureFacts& facts);

// The notice's text (Chinese, short enough for the message box's one line).
const wchar_t* NoticeText(NoticeKind kind);
