#include "Updater/UpdateModule.h"

#include "Http/HttpMgr.h"
#include "Runtime/FileOps.h"
#include "Runtime/FileSecurity.h"
#include "Runtime/Logger.h"
#include "Runtime/TextUtil.h"
#include "Updater/Endpoints.h"
#include "Updater/GameEventListener.h"
#include "Updater/UpdateManifest.h"

namespace {

const wchar_t kSource[] = L".\\Updater\\UpdateModule";
const wchar_t kPackageName[] = L"ovinstaller.exe";
const wchar_t kTemporarySuffix[] = L".yw";
const wchar_t kFailureText[] = L"安装失败";

// Registrations of helper window classes in this process; each module's class
// gets the next number, so modules never share a class.
int g_helperRegistrations = 0;


// The helper window also swallows these (timers and the numbers right after
// the module's own messages) without default processing.
const UINT kLastSwallowed = 2031;

void LogConsoleAndFile(int line, const wchar_t* consoleFormat, const wchar_t* fileFormat, DWORD error, bool withOne)
{
    CSingleton<ConsoleLogger>::Instance().LogEx(LOG_ERROR, line, kSource, consoleFormat, static_cast<int>(error));
    if (withOne)
        CSingleton<FileLogger>::Instance().LogEx(LOG_ERROR, line, kSource, fileFormat, 1, static_cast<int>(error));
    else
        CSingleton<FileLogger>::Instance().LogEx(LOG_ERROR, line, kSource, fileFormat, static_cast<unsigned>(error));
}

}  // namespace

UpdateConfig CompiledUpdateConfig(const std::wstring& packageDir)
{
    return UpdateConfig{packageDir, {PrimaryManifestUrl(), SecondaryManifestUrl()}, PublisherKeys::Compiled(),
                        ReleasePolicy::Compiled()};
}

UpdateModule::UpdateModule(IHttpChannels& channels, IGameEventListener* listener, UpdateConfig config)
    : channels_(channels), listener_(listener), config_(std::move(config))
{
    manifestRequest_.SetMaxBodySize(kMaxManifestBytes);
    manifestRequest_.SetDeadline(kManifestDeadlineMs);
    signatureRequest_.SetMaxBodySize(kMaxSignatureFileBytes);
    signatureRequest_.SetDeadline(kManifestDeadlineMs);
}

UpdateModule::~UpdateModule()
{
    // The window's user data points here: it must not outlive the module.
    Stop();
}

bool IsPackageDirRefusal(int errType, int code)
{
    return errType == ERR_USER && code >= 3020 && code <= 3029;
}

const wchar_t* PackageDirRefusalText(int code)
{
    // Short enough for one line of the notice box.
    switch (code) {
    case UM_ERR_DIR_LINK: return L"安装路径中有链接，已停止安装！";
    case UM_ERR_DIR_IS_FILE: return L"安装目录被同名文件占用！";
    case UM_ERR_FILE_UNSAFE: return L"安装文件无法安全写入！";
    default: return L"无法创建安装目录，请检查磁盘！";
    }
}

void UpdateModule::Start()
{
    CreateHelperWindow();
    BeginManifest();
}

void UpdateModule::RetryManifest()
{
    if (stage_ != Stage::kIdle)
        return;
    if (!helper_)
        CreateHelperWindow();
    BeginManifest();
}

void UpdateModule::BeginManifest()
{
    attempts_ = 0;
    if (!channels_.StartHttp()) {
        // No request could run, so no result could ever come: say so now.
        if (listener_)
            listener_->OnManifestResult(ERR_USER, UM_ERR_CHANNELS, std::wstring());
        return;
    }
    if (!helper_) {
        // No window, so no message could ever carry a result: say so now.
        if (listener_)
            listener_->OnManifestResult(ERR_USER, UM_ERR_HELPER_WINDOW, std::wstring());
        return;
    }
    if (const int refusal = SecurePackageDir()) {
        Refuse(refusal);
        return;
    }
    RequestManifest();
}

int UpdateModule::SecurePackageDir()
{
    // Before creating (the creation would follow a link), then again once the
    // directory is held open, when nothing on its path can change any more.
    PathCheck check = CheckPathForLinks(config_.packageDir);
    int code = 0;
    if (check.verdict == PathVerdict::kSafe && !CreateDir(config_.packageDir))
        code = UM_ERR_DIR_CREATE;
    if (!code && check.verdict == PathVerdict::kSafe && !packageDirPin_.Pinned() && !packageDirPin_.Pin(config_.packageDir)) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] cannot hold the package directory:%u", static_cast<unsigned>(GetLastError()));
        code = UM_ERR_DIR_CREATE;
    }
    if (check.verdict == PathVerdict::kSafe)
        check = CheckPathForLinks(config_.packageDir);
    if (check.verdict == PathVerdict::kLink)
        code = UM_ERR_DIR_LINK;
    else if (check.verdict == PathVerdict::kFileInTheWay)
        code = UM_ERR_DIR_IS_FILE;
    if (code) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] package directory refused:%d dir:%s at:%s", code, config_.packageDir.c_str(),
               check.at.c_str());
        packageDirPin_.Release();
    }
    return code;
}

void UpdateModule::Refuse(int code)
{
    manifestRequest_.Stop();
    download_.Stop();
    stage_ = Stage::kIdle;
    Post(UM_DIRECTORY_REFUSED, static_cast<WPARAM>(code), 0);
}

void UpdateModule::HandleDirectoryRefused(int code)
{
    if (listener_)
        listener_->OnDownloadResult(ERR_USER, code, PackageDirRefusalText(code));
}

void UpdateModule::Stop()
{
    manifestRequest_.Stop();
    signatureRequest_.Stop();
    download_.Stop();
    manifestBody_.clear();
    signatureBody_.clear();
    stage_ = Stage::kIdle;
    package_.Release();
    packageDirPin_.Release();
    if (helper_) {
        // Posted messages still queued for the window go with it.
        if (!DestroyWindow(helper_))
            OV_LOG(LOG_ERROR, kSource, L"[UM] destroy window failed:%u", static_cast<unsigned>(GetLastError()));
        helper_ = nullptr;
        if (!UnregisterClassW(className_.c_str(), GetModuleHandleW(nullptr)))
            OV_LOG(LOG_ERROR, kSource, L"[UM] unregister class failed:%u", static_cast<unsigned>(GetLastError()));
    }
}

void UpdateModule::ResumeInstallerDownload()
{
    // Nothing to resume before the first start: the request has no values
    // yet. Nothing either while a result is still on its way.
    if (download_.IsRunning() || stage_ != Stage::kIdle || packagePath_.empty())
        return;
    // A new round: from the first address not left.
    bool tookBack = false;
    const size_t first = mirrors_.BeginRound(&tookBack);
    if (mirrors_.Count() > 1 && (tookBack || first != mirror_))
        OV_LOG(LOG_INFO, kSource, L"[UM] package address for the new round: %s -> %s%s", packageUrl_.c_str(),
               mirrors_.Url(first).c_str(), tookBack ? L" (every address had been left: all are asked again)" : L"");
    UseMirror(first);
    // The first start stopped at its file: start afresh.
    if (download_.LocalPath().empty()) {
        StartInstallerDownload();
        return;
    }
    if (const int refusal = SecurePackageDir()) {
        Refuse(refusal);
        return;
    }
    if (!PrepareTemporaryFile())
        return;
    stage_ = Stage::kDownload;
    download_.Resubmit();
}

// --- helper window -------------------------------------------------------------

void UpdateModule::CreateHelperWindow()
{
    ++g_helperRegistrations;
    className_ = Format(L"_UPDATE_MODULE_HELPER_WINDOW_ORVEL%d", g_helperRegistrations);
    HINSTANCE instance = GetModuleHandleW(nullptr);

    WNDCLASSW wc = {};
    wc.lpfnWndProc = &UpdateModule::HelperWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = className_.c_str();
    if (!RegisterClassW(&wc)) {
        LogConsoleAndFile(__LINE__, L"[UM]regclass %d", L"[UM]rcls %d:%d", GetLastError(), true);
        return;
    }
    HWND hwnd = CreateWindowExW(0, className_.c_str(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!hwnd) {
        const DWORD error = GetLastError();
        UnregisterClassW(className_.c_str(), instance);
        LogConsoleAndFile(__LINE__, L"[UM]unregclass %d", L"[UM]urcls %d:%d", error, true);
        return;
    }
    helper_ = hwnd;
    // The previous value is 0, so only the last error tells a failure apart.
    SetLastError(0);
    if (!SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this)) && GetLastError() != 0)
        OV_LOG(LOG_ERROR, kSource, L"[UM] set user data failed:%u", static_cast<unsigned>(GetLastError()));
}

LRESULT CALLBACK UpdateModule::HelperWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER || (message >= UM_MANIFEST_DONE && message <= kLastSwallowed)) {
        UpdateModule* self = reinterpret_cast<UpdateModule*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (!self)
            return 0;
        // The handlers call the listener last: it may stop or delete the module.
        switch (message) {
        case UM_MANIFEST_DONE:
            self->HandleManifestDone(static_cast<int>(wParam), static_cast<int>(lParam));
            break;
        case UM_DOWNLOAD_PROGRESS:
            self->HandleDownloadProgress();
            break;
        case UM_DOWNLOAD_DONE:
            self->HandleDownloadDone(static_cast<int>(wParam), static_cast<int>(lParam));
            break;
        case UM_DIRECTORY_REFUSED:
            self->HandleDirectoryRefused(static_cast<int>(wParam));
            break;
        case UM_MANIFEST_SIGNATURE_DONE:
            self->HandleManifestSignatureDone(static_cast<int>(wParam), static_cast<int>(lParam));
            break;
        case UM_PACKAGE_SIGNATURE_DONE:
            self->HandlePackageSignatureDone(static_cast<int>(wParam), static_cast<int>(lParam));
            break;
        default:
            break;
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

UpdateModule* UpdateModule::FromUserData(uintptr_t userData)
{
    HWND hwnd = reinterpret_cast<HWND>(userData);
    if (!hwnd)
        return nullptr;
    // A destroyed window reads as 0.
    return reinterpret_cast<UpdateModule*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

bool UpdateModule::Post(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (PostMessageW(helper_, message, wParam, lParam))
        return true;
    LogConsoleAndFile(__LINE__, L"[UM] post_message failed:%u", L"[UM] post message failed:%u", GetLastError(), false);
    return false;
}

// --- manifest --------------------------------------------------------------------

void UpdateModule::RequestManifest()
{
    if (attempts_ < 0 || static_cast<size_t>(attempts_) >= config_.endpoints.size())
        return;
    const std::wstring& endpoint = config_.endpoints[attempts_];
    ++attempts_;
    if (manifestRequest_.IsRunning())
        return;
    manifestUrl_ = endpoint;
    stage_ = Stage::kManifest;
    manifestRequest_.SetUrl(endpoint);
    manifestRequest_.SetCallback(&UpdateModule::CommandDoneCallback, reinterpret_cast<uintptr_t>(helper_));
    Submitted(SubmitCommand(&manifestRequest_), UM_MANIFEST_DONE);
}

void UpdateModule::RequestSignature(const std::wstring& url)
{
    signatureRequest_.Stop();
    signatureBody_.clear();
    signatureRequest_.SetUrl(SignatureUrl(url));
    signatureRequest_.SetCallback(&UpdateModule::CommandDoneCallback, reinterpret_cast<uintptr_t>(helper_));
    Submitted(SubmitCommand(&signatureRequest_),
              stage_ == Stage::kPackageSignature ? UM_PACKAGE_SIGNATURE_DONE : UM_MANIFEST_SIGNATURE_DONE);
}

void UpdateModule::Submitted(bool queued, UINT message)
{
    if (queued)
        return;
    OV_LOG(LOG_ERROR, kSource, L"[UM] request not queued: no command channel");
    Post(message, static_cast<WPARAM>(ERR_USER), static_cast<LPARAM>(UM_ERR_CHANNELS));
}

int UpdateModule::CommandDoneCallback(uintptr_t userData, std::string& body, int errType, int code)
{
    UpdateModule* self = FromUserData(userData);
    if (!self)
        return 0;
    UINT message = 0;
    switch (self->stage_) {
    case Stage::kManifest:
        // The bytes as received: the signature is checked over exactly these.
        self->manifestBody_.swap(body);
        message = UM_MANIFEST_DONE;
        break;
    case Stage::kManifestSignature:
        self->signatureBody_.swap(body);
        message = UM_MANIFEST_SIGNATURE_DONE;
        break;
    case Stage::kPackageSignature:
        self->signatureBody_.swap(body);
        message = UM_PACKAGE_SIGNATURE_DONE;
        break;
    default:
        return 0;  // nothing of ours was asking
    }
    self->Post(message, static_cast<WPARAM>(errType), static_cast<LPARAM>(code));
    return 0;
}

void UpdateModule::HandleManifestDone(int errType, int code)
{
    if (stage_ != Stage::kManifest)
        return;
    manifestRequest_.Stop();
    if (errType != 0) {
        ManifestEndpointFailed(errType, code);
        return;
    }
    if (!config_.keys.Required()) {
        UseManifest(code);
        return;
    }
    // Same channel and retry rules as the manifest itself.
    stage_ = Stage::kManifestSignature;
    RequestSignature(manifestUrl_);
}

void UpdateModule::HandleManifestSignatureDone(int errType, int code)
{
    if (stage_ != Stage::kManifestSignature)
        return;
    signatureRequest_.Stop();
    if (errType != 0) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] manifest signature not fetched:%d:%d url:%s", errType, code,
               manifestUrl_.c_str());
        ManifestEndpointFailed(errType, code);
        return;
    }
    const SignatureStatus status = config_.keys.VerifyBytes(signatureBody_, manifestBody_.data(), manifestBody_.size());
    if (status != SignatureStatus::kValid) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] manifest signature refused:%s url:%s", SignatureStatusName(status),
               manifestUrl_.c_str());
        manifestBody_.clear();
        ManifestEndpointFailed(ERR_USER, UM_ERR_MANIFEST_SIGNATURE);
        return;
    }
    // The publisher signed it, but perhaps long ago: an old release served
    // again is refused the same way.
    const UpdateManifestValues values = ParseManifestValues(Utf8ToWide(manifestBody_));
    const ReleaseVerdict release = CheckManifestRelease(config_.release, values);
    if (release != ReleaseVerdict::kOk) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] manifest release refused:%s version:%s expires:%s url:%s",
               ReleaseVerdictName(release), values.version.c_str(), values.expires.c_str(), manifestUrl_.c_str());
        manifestBody_.clear();
        ManifestEndpointFailed(ERR_USER, release == ReleaseVerdict::kVersion  ? UM_ERR_RELEASE_VERSION
                                         : release == ReleaseVerdict::kExpiry ? UM_ERR_RELEASE_EXPIRED
                                                                              : UM_ERR_RELEASE_INCOMPLETE);
        return;
    }
    UseManifest(0);
}

void UpdateModule::ManifestEndpointFailed(int errType, int code)
{
    if (static_cast<size_t>(attempts_) < config_.endpoints.size()) {
        RequestManifest();
        return;
    }
    stage_ = Stage::kIdle;
    if (listener_)
        listener_->OnManifestResult(errType, code, std::wstring());
}

void UpdateModule::UseManifest(int code)
{
    stage_ = Stage::kIdle;
    // The copy is written with administrator rights: not through a link, and
    // only administrators may change it afterwards.
    int refusal = SecurePackageDir();
    if (!refusal && !PrepareInstallerFile(ManifestCopyPath(config_.packageDir))) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] cannot secure the manifest copy:%u", static_cast<unsigned>(GetLastError()));
        refusal = UM_ERR_FILE_UNSAFE;
    }
    if (refusal) {
        Refuse(refusal);
        return;
    }
    const std::wstring text = Utf8ToWide(manifestBody_);
    // The copy is the record of what was received; the values come from the
    // bytes in memory, which nobody else can have changed.
    SaveManifestCopy(config_.packageDir, text);
    const UpdateManifestValues values = ParseManifestValues(text);
    mirrors_.Reset(PackageUrls(values));
    UseMirror(mirrors_.BeginRound());
    sizeText_ = values.sizeText;
    md5_ = values.md5;
    version_ = values.version;
    // A download that cannot start reports through its own result; the
    // manifest stage itself did succeed.
    StartInstallerDownload();
    if (listener_)
        listener_->OnManifestResult(0, code, values.version);
}

// --- package download --------------------------------------------------------------

bool UpdateModule::StartInstallerDownload()
{
    if (const int refusal = SecurePackageDir()) {
        Refuse(refusal);
        return false;
    }
    packagePath_ = config_.packageDir + L"\\" + kPackageName;
    if (!PrepareTemporaryFile())
        return false;
    stage_ = Stage::kDownload;
    const int64_t expected = ParseManifestSize(sizeText_);
    // Refused while the download runs: the running one reports.
    download_.Download(packageUrl_, packagePath_ + kTemporarySuffix, static_cast<uint64_t>(expected), md5_,
                       &mirrors_, reinterpret_cast<uintptr_t>(helper_), &UpdateModule::DownloadDoneCallback,
                       &UpdateModule::DownloadProgressCallback);
    return true;
}

bool UpdateModule::PrepareTemporaryFile()
{
    // The package is this file renamed, and a rename keeps the descriptor.
    if (PrepareInstallerFile(TemporaryPath()))
        return true;
    OV_LOG(LOG_ERROR, kSource, L"[UM] cannot secure the partial download:%u path:%s",
           static_cast<unsigned>(GetLastError()), TemporaryPath().c_str());
    stage_ = Stage::kDownload;  // its end is reported like any other
    Post(UM_DOWNLOAD_DONE, static_cast<WPARAM>(ERR_SYS), static_cast<LPARAM>(DOWNLOAD_ERR_OPEN));
    return false;
}

void UpdateModule::DownloadProgressCallback(uintptr_t userData, uint64_t total, uint64_t completed, uint32_t speed)
{
    UpdateModule* self = FromUserData(userData);
    if (!self)
        return;
    ProtoValue& process = self->progress_[L"process"];
    process[L"total"] = static_cast<int64_t>(total);
    process[L"complete"] = static_cast<int64_t>(completed);
    process[L"speed"] = static_cast<int64_t>(speed);
    self->Post(UM_DOWNLOAD_PROGRESS, 0, 0);
}

void UpdateModule::DownloadDoneCallback(uintptr_t userData, int errType, int code)
{
    UpdateModule* self = FromUserData(userData);
    if (!self)
        return;
    self->Post(UM_DOWNLOAD_DONE, static_cast<WPARAM>(errType), static_cast<LPARAM>(code));
}

void UpdateModule::HandleDownloadProgress()
{
    if (stage_ != Stage::kDownload)
        return;
    // Several callbacks before one message leave only the latest figures; a
    // message after the record was consumed reports nothing.
    const ProtoValue& process = progress_.Find(L"process");
    const bool have = progress_.Has(L"process");
    const uint64_t total = static_cast<uint64_t>(process.Find(L"total").integer());
    const uint64_t completed = static_cast<uint64_t>(process.Find(L"complete").integer());
    const int speed = static_cast<int>(static_cast<uint32_t>(process.Find(L"speed").integer()));
    progress_.Reset();
    if (have && listener_)
        listener_->OnDownloadProgress(total, completed, speed, 0);
}

void UpdateModule::HandleDownloadDone(int errType, int code)
{
    if (stage_ != Stage::kDownload)
        return;
    download_.Stop();
    stage_ = Stage::kIdle;

    if (errType == 0 && config_.keys.Required()) {
        // The finished file is checked once its signature is here.
        stage_ = Stage::kPackageSignature;
        RequestSignature(packageUrl_);
        return;
    }
    const std::wstring temporary = TemporaryPath();
    std::wstring message;
    if (errType == 0) {
        FinishPackage(errType, code, message);
        if (errType != 0 && TryNextMirror(errType, code))
            return;
    } else {
        if (TryNextMirror(errType, code))
            return;
        // An empty file has nothing to resume; one with content stays for the
        // next attempt.
        if (GetFileSize64(temporary) <= 0)
            DeleteFileOnce(temporary);
        message = kFailureText;
    }
    if (listener_)
        listener_->OnDownloadResult(errType, code, message);
}

void UpdateModule::HandlePackageSignatureDone(int errType, int code)
{
    if (stage_ != Stage::kPackageSignature)
        return;
    stage_ = Stage::kIdle;
    signatureRequest_.Stop();
    std::wstring message;
    if (errType == 0) {
        FinishPackage(errType, code, message);
    } else {
        // Without its signature the file cannot be used yet; it stays, whole,
        // and the next address (or the window's retry) fetches the signature
        // again.
        OV_LOG(LOG_ERROR, kSource, L"[UM] package signature not fetched:%d:%d url:%s", errType, code,
               packageUrl_.c_str());
        message = kFailureText;
    }
    if (errType != 0 && TryNextMirror(errType, code))
        return;
    if (listener_)
        listener_->OnDownloadResult(errType, code, message);
}

void UpdateModule::FinishPackage(int& errType, int& code, std::wstring& message)
{
    const std::wstring temporary = TemporaryPath();
    // From here until the package's process exists, nobody else may change
    // the file: it is checked, renamed and started as this one held file.
    if (!package_.Open(temporary, true)) {
        errType = ERR_USER;
        code = UM_ERR_REPLACE;
        return;
    }
    // The package is run with administrator rights: a download that is not
    // the publisher's, or does not match the manifest's checksum, must never
    // take its place. Its content is wrong, so it is not kept for resuming.
    const PackageVerdict verdict = package_.Verify(config_.keys, config_.release, signatureBody_, &version_, md5_);
    if (verdict != PackageVerdict::kOk) {
        package_.Release();
        if (!DeleteFileOnce(temporary))
            OV_LOG(LOG_ERROR, kSource, L"[UM] delete failed:%u path:%s", static_cast<unsigned>(GetLastError()),
                   temporary.c_str());
        errType = ERR_USER;
        code = verdict == PackageVerdict::kSignature ? UM_ERR_PACKAGE_SIGNATURE
               : verdict == PackageVerdict::kRelease ? UM_ERR_PACKAGE_RELEASE
                                                     : UM_ERR_PACKAGE_CHECK;
        message = kFailureText;
        return;
    }
    // Renamed with administrator rights: not through a link.
    if (const int refusal = SecurePackageDir()) {
        package_.Release();
        errType = ERR_USER;
        code = refusal;
        message = PackageDirRefusalText(refusal);
        return;
    }
    // Replaces an older package unless that one is in use; then both stay.
    if (!package_.RenameTo(packagePath_)) {
        package_.Release();
        errType = ERR_USER;
        code = UM_ERR_REPLACE;
    }
}

// --- package addresses -------------------------------------------------------------

void UpdateModule::UseMirror(size_t index)
{
    if (index >= mirrors_.Count())
        return;
    const std::wstring& url = mirrors_.Url(index);
    // Another server gets the transport retries the first one got; a single
    // address keeps the request exactly as it always was.
    if (mirrors_.Count() > 1 && url != download_.Url())
        download_.ResetAttempts();
    mirror_ = index;
    packageUrl_ = url;
    download_.SetUrl(url);
}

bool UpdateModule::TryNextMirror(int errType, int code)
{
    const MirrorFault fault = ClassifyMirrorFault(errType, code);
    if (fault == MirrorFault::kNone || mirror_ >= mirrors_.Count())
        return false;
    mirrors_.Fail(mirror_);
    if (mirrors_.Count() < 2)
        return false;
    const size_t next = mirrors_.Pick();
    if (next == MirrorSet::npos) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] every package address failed this round, the last %s (%s, %d:%d)",
               packageUrl_.c_str(), MirrorFaultName(fault), errType, code);
        return false;
    }
    OV_LOG(LOG_WARN, kSource, L"[UM] package address switch: %s -> %s (%s, %d:%d%s)", packageUrl_.c_str(),
           mirrors_.Url(next).c_str(), MirrorFaultName(fault), errType, code,
           mirrors_.Left(mirror_) ? L", left for the rest of the run" : L"");
    UseMirror(next);
    // The partial file is resumed there (a copy that failed its check is
    // already gone, so that one starts from zero).
    if (!PrepareTemporaryFile())
        return true;  // reported through its own message
    stage_ = Stage::kDownload;
    download_.Resubmit();
    return true;
}
