#pragma once
// The installer's network job: fetch the update manifest (primary endpoint,
// then the secondary one) and its publisher signature, keep its copy
// "ovinstall.ini", download the package "ovinstaller.exe" into
// "ovinstaller.exe.yw" with resume and progress, check it against its
// publisher signature and the manifest's "Md5", move it into place, and
// report to the install window through IGameEventListener.
//
// Mirrors: the manifest may name further addresses of the same package
// ("Url2" to "Url9", see UpdateManifest.h). A download that fails for the
// address's sake (MirrorSet.h says which failures count) goes on at once from
// the next healthy address, resuming the partial file there; a copy that
// fails its check is deleted, and the next address starts from zero. Only
// when every address has failed in a round does the listener hear of it (the
// last failure); the window's retry then starts the next round from the top.
// The signature is fetched from the address that finished the download.
//
// Signatures: in a build with publisher keys, a manifest is used only when
// "<endpoint>.minisig" verifies over exactly the bytes received (otherwise
// that endpoint has failed), and the package only when "<url>.minisig"
// verifies over the finished file. A verified manifest must also name a
// release that is not being replayed (Updater/ReleasePolicy.h: the version
// floor, "Expires", "Size" and "Md5"), and the package's signature that very
// version. The checked package stays locked against
// writing, deleting and renaming until ReleasePackage (see LockedPackage.h):
// the install window calls it once the package's process exists.
//
// Every HTTP callback only records its data and posts a message to a hidden
// message-only helper window; the listener is called from that window's
// handlers and nowhere else. So a listener call never happens inside the HTTP
// layer, and once Stop has destroyed the window nothing more reaches it.
//
// The module brings its HTTP channels up itself (IHttpChannels, on Start and
// on the manifest retry), so nobody has to start them before it exists.
//
// Threads: UI thread only (construction, every operation, all callbacks).
// Ownership: the install window owns the module and calls Stop before deleting
// it (the destructor stops it too). The module owns its manifest request, its
// package download and its helper window; the listener and the channels are
// not owned and outlive it.

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Http/HttpCommand.h"
#include "Http/HttpDownloadFile.h"
#include "Http/HttpMgr.h"
#include "Runtime/PathSafety.h"
#include "Runtime/ProtoValue.h"
#include "Updater/LockedPackage.h"
#include "Updater/MirrorSet.h"
#include "Updater/ParallelDownload.h"
#include "Updater/PublisherSignature.h"
#include "Updater/ReleasePolicy.h"

class IGameEventListener;

// Private messages of the helper window (the numbers are fixed).
enum UpdateModuleMessage : UINT {
    UM_MANIFEST_DONE = 2024,      // wParam error type, lParam error code
    UM_DOWNLOAD_PROGRESS = 2025,  // the figures are in the progress record
    UM_DOWNLOAD_DONE = 2026,      // wParam error type, lParam error code
    UM_DIRECTORY_REFUSED = 2027,  // wParam the refusal code (UM_ERR_DIR_*)
    UM_MANIFEST_SIGNATURE_DONE = 2028,  // wParam error type, lParam error code
    UM_PACKAGE_SIGNATURE_DONE = 2029,   // wParam error type, lParam error code
};

// Codes of OnDownloadResult that come from the module itself (error type 3).
enum UpdateModuleError {
    // The finished package could not replace the old one (the temporary file
    // stays for the next attempt).
    UM_ERR_REPLACE = -1,
    // The finished download does not match the manifest's "Md5" (or could not
    // be read to check it): the temporary file is deleted, an existing package
    // is left untouched, and the message is "安装失败" so the window retries
    // with a fresh download. No other path reports this code.
    UM_ERR_PACKAGE_CHECK = 3001,
    // The finished download is not signed by a publisher key (a missing
    // signature file is reported with the pair of its failed request
    // instead). Like 3001: the temporary file is deleted, an existing package
    // is left untouched, the message is "安装失败". No other path reports it.
    UM_ERR_PACKAGE_SIGNATURE = 3002,
    // A manifest whose signature file does not verify: that endpoint counts as
    // failed, and the last endpoint's failure is the manifest result.
    UM_ERR_MANIFEST_SIGNATURE = 3003,
    // A verified manifest that would bring back or hold on to an old release
    // (Updater/ReleasePolicy.h). Like a signature that does not verify: that
    // endpoint counts as failed, nothing of the manifest is kept or fetched,
    // and the last endpoint's refusal is the manifest result.
    UM_ERR_RELEASE_VERSION = 3035,     // "Version" below the build's floor, or no dotted decimal
    UM_ERR_RELEASE_EXPIRED = 3036,     // "Expires" missing, malformed or past
    UM_ERR_RELEASE_INCOMPLETE = 3037,  // "Size" or "Md5" missing or malformed
    // The package's signature verifies but its trusted comment does not name
    // the manifest's "Version": a package of another release. Like 3002.
    UM_ERR_PACKAGE_RELEASE = 3038,
    // 3010-3019: the module could not do its part, so the listener is told
    // instead of waiting for a result that would never come.
    // The helper window cannot be created (OnManifestResult, reported at once
    // by Start or RetryManifest; the next RetryManifest tries again).
    UM_ERR_HELPER_WINDOW = 3010,
    // The HTTP channels cannot be brought up: no request could ever run
    // (OnManifestResult, reported like 3010).
    UM_ERR_CHANNELS = 3011,
    // The package directory is refused; the message is a notice for the user
    // saying why. Nothing is fetched or written there, and nothing follows:
    // retrying would not change the cause.
    UM_ERR_DIR_LINK = 3020,     // a junction or symbolic link on its path
    UM_ERR_DIR_IS_FILE = 3021,  // a file where one of its folders must be
    UM_ERR_DIR_CREATE = 3022,   // it cannot be created or held open
    UM_ERR_FILE_UNSAFE = 3023,  // the manifest copy cannot be made the installer's own file
    // No staging folder could be had (the install window's, before any
    // module exists): there is nowhere safe to put the package.
    UM_ERR_STAGING = 3024,
};

// True for the results that refuse the package directory (error type 3,
// codes 3020 to 3029).
bool IsPackageDirRefusal(int errType, int code);
// The notice for such a refusal, one per cause.
const wchar_t* PackageDirRefusalText(int code);

// Manifest bodies longer than this fail the transfer (3, 3005): a manifest is
// a few hundred bytes.
const uint32_t kMaxManifestBytes = 64 * 1024;
// The manifest and each signature request, retries included, may take this
// long; then that endpoint has failed (curl 28). A server that trickles a
// byte a second passes the transfer's stall rule, and would otherwise hold
// the installer for as long as a 64 KiB answer takes.
const DWORD kManifestDeadlineMs = 30000;

// What a module fetches and what it holds the answers to.
struct UpdateConfig {
    // Where the manifest copy and the package go.
    std::wstring packageDir;
    // The manifest endpoints, tried in order. An empty list is a usage error:
    // the manifest stage then never starts.
    std::vector<std::wstring> endpoints;
    // No keys: the unsigned configuration (see PublisherKeys).
    PublisherKeys keys{std::vector<std::string>()};
    ReleasePolicy release;
};

// The product's configuration: the endpoints, publisher keys and release
// rules compiled in (Updater/Endpoints.h).
UpdateConfig CompiledUpdateConfig(const std::wstring& packageDir);

class UpdateModule {
public:
    UpdateModule(IHttpChannels& channels, IGameEventListener* listener, UpdateConfig config);
    ~UpdateModule();

    // Brings the channels up, creates the helper window, makes sure the
    // package directory exists with no link on its path, holds it open, and
    // asks for the manifest. A refused directory is reported to the listener
    // as OnDownloadResult(3, UM_ERR_DIR_*, notice) instead; the same check
    // runs again before the download starts and before the package is moved
    // into place. Without channels or a helper window no result could ever
    // arrive, so the listener hears OnManifestResult(3, UM_ERR_CHANNELS or
    // UM_ERR_HELPER_WINDOW) before Start returns: the only listener calls
    // that do not come from the helper window. Every outcome reaches the
    // listener.
    void Start();
    // The window's retry after a failed manifest stage: walks the endpoints
    // again from the first, as Start does (a missing helper window is created
    // again, the directory checked again). Nothing happens while the manifest
    // request or the package download runs.
    void RetryManifest();
    // Cancels the manifest request and the package download without any
    // callback, and destroys the helper window: the listener hears nothing
    // more. Safe to call more than once.
    void Stop();
    // The window's retry after a failed download: re-queues the package
    // download with the values of its last start unless it is running (or
    // starts it, when its first start stopped at the partial file), after
    // checking the directory and preparing the partial file again.
    void ResumeInstallerDownload();
    // The package's process has been created (or the package is not going to
    // run): the checked package may be changed by others again.
    void ReleasePackage() { package_.Release(); }
    // The checked package, held until ReleasePackage; null when there is none.
    const LockedPackage* HeldPackage() const { return package_.IsOpen() ? &package_ : nullptr; }

    // For diagnostics and tests.
    HWND HelperWindow() const { return helper_; }
    const std::wstring& HelperClassName() const { return className_; }
    bool IsDownloading() const { return stage_ == Stage::kDownload; }
    int AttemptsMade() const { return attempts_; }
    const std::wstring& PackagePath() const { return packagePath_; }
    // The package address in use (the manifest's "Url" or one of its mirrors).
    const std::wstring& PackageUrl() const { return packageUrl_; }
    std::wstring TemporaryPath() const { return packagePath_ + L".yw"; }
    bool PackageLocked() const { return package_.IsOpen(); }

private:
    // What runs; one request at a time, so the stage also says which request
    // an answer is from.
    enum class Stage {
        kIdle,               // nothing: before Start, after a result, after Stop
        kManifest,           // an endpoint's manifest is being fetched
        kManifestSignature,  // that manifest's signature file is being fetched
        kDownload,           // the package is being downloaded
        kPackageSignature,   // the finished download's signature file is being fetched
    };

    static LRESULT CALLBACK HelperWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static UpdateModule* FromUserData(uintptr_t userData);
    // The manifest and both signature requests answer here; the stage routes it.
    static int CommandDoneCallback(uintptr_t userData, std::string& body, int errType, int code);
    static void DownloadDoneCallback(uintptr_t userData, int errType, int code);
    static void DownloadProgressCallback(uintptr_t userData, uint64_t total, uint64_t completed, uint32_t speed);

    void CreateHelperWindow();
    // Checks the package directory's path for links, creates what is missing,
    // pins the directory and checks again. 0, or the refusal code (logged).
    int SecurePackageDir();
    // Tells the listener, through the helper window, that the directory is refused.
    void Refuse(int code);
    void HandleDirectoryRefused(int code);
    // Gives the partial download the installer's own descriptor before a byte
    // goes in; on failure reports it like a file that cannot be opened (the
    // window's retry tries again).
    bool PrepareTemporaryFile();
    bool Post(UINT message, WPARAM wParam, LPARAM lParam);
    // Starts the endpoint walk from the first endpoint (Start, RetryManifest).
    void BeginManifest();
    void RequestManifest();
    void HandleManifestDone(int errType, int code);
    void HandleManifestSignatureDone(int errType, int code);
    // The endpoint just tried has failed: the next one, or the manifest result.
    void ManifestEndpointFailed(int errType, int code);
    // The verified (or, unsigned, received) manifest: keep the record, read
    // the values from memory, start the download, report.
    void UseManifest(int code);
    // Fetches `url`'s signature file on the command channel.
    void RequestSignature(const std::wstring& url);
    // The request could not be queued (no channel): its end is reported
    // like any other, through `message`.
    void Submitted(bool queued, UINT message);
    bool StartInstallerDownload();
    void HandleDownloadProgress();
    void HandleDownloadDone(int errType, int code);
    void HandlePackageSignatureDone(int errType, int code);
    // Makes address `index` the one the download and its signature use.
    void UseMirror(size_t index);
    // The download failed (errType, code) at the address in use: when that
    // counts against the address and another is healthy this round, the
    // download goes on from there and true is returned (nothing to report).
    bool TryNextMirror(int errType, int code);
    // The download is complete and its signature (if any) fetched: lock it,
    // check it, and move it into place. Returns the pair to report and sets
    // `message`.
    void FinishPackage(int& errType, int& code, std::wstring& message);

    IHttpChannels& channels_;
    IGameEventListener* listener_;
    const UpdateConfig config_;
    Stage stage_ = Stage::kIdle;
    int attempts_ = 0;  // manifest requests started in the current walk
    CHttpCommand manifestRequest_;
    // The received manifest exactly as it came, and its signature file.
    std::string manifestBody_;
    CHttpCommand signatureRequest_;
    std::string signatureBody_;
    LockedPackage package_;
    std::wstring manifestUrl_;  // the endpoint that answered
    std::wstring packageUrl_;  // the address in use: mirrors_.Url(mirror_)
    MirrorSet mirrors_;
    size_t mirror_ = 0;
    std::wstring sizeText_;
    std::wstring md5_;
    std::wstring version_;  // the manifest's "Version": the package's signature must name it
    std::wstring packagePath_;
    ParallelDownload download_;
    // "process" -> {"total", "complete", "speed"}: the latest figures of the
    // download, consumed by the next progress message.
    ProtoValue progress_;
    HWND helper_ = nullptr;
    std::wstring className_;
    // Holds the package directory open from Start on.
    DirectoryPin packageDirPin_;

    UpdateModule(const UpdateModule&) = delete;
    UpdateModule& operator=(const UpdateModule&) = delete;
};
