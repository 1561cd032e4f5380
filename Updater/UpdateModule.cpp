#include "Updater/UpdateModule.h"

#include "Http/HttpMgr.h"
#include "Runtime/Logger.h"
#include "Runtime/TextUtil.h"
#include "Updater/Endpoints.h"
#include "Updater/GameEventListener.h"
#include "Updater/PackageCheck.h"
#include "Updater/UpdateManifest.h"
#include "app/CommonUtils.h"

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

UpdateModule::UpdateModule(const std::wstring& packageDir, IGameEventListener* listener)
    : UpdateModule(packageDir, listener, {PrimaryManifestUrl(), SecondaryManifestUrl()})
{
}

UpdateModule::UpdateModule(const std::wstring& packageDir, IGameEventListener* listener,
                           const std::vector<std::wstring>& endpoints)
    : packageDir_(packageDir), listener_(listener), endpoints_(endpoints)
{
}

UpdateModule::~UpdateModule()
{
    // The window's user data points here: it must not outlive the module.
    Stop();
}

bool UpdateModule::Start()
{
    CreateHelperWindow();
    return BeginManifest();
}

bool UpdateModule::RetryManifest()
{
    if (manifestRequest_.IsRunning() || downloading_)
        return true;
    if (!helper_)
        CreateHelperWindow();
    return BeginManifest();
}

bool UpdateModule::BeginManifest()
{
    if (!CreateDir(packageDir_))
        return false;
    attempts_ = 0;
    if (!helper_) {
        // No window, so no message could ever carry a result: say so now.
        if (listener_)
            listener_->OnManifestResult(ERR_USER, UM_ERR_HELPER_WINDOW, std::wstring());
        return true;
    }
    RequestManifest();
    return true;
}

void UpdateModule::Stop()
{
    manifestRequest_.Stop();
    download_.Stop();
    manifestText_.clear();
    downloading_ = false;
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
    // Nothing to fetch before the manifest named it.
    if (download_.IsRunning() || downloading_ || !haveManifest_)
        return;
    StartInstallerDownload();
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
    if (attempts_ < 0 || static_cast<size_t>(attempts_) >= endpoints_.size())
        return;
    const std::wstring& endpoint = endpoints_[attempts_];
    ++attempts_;
    if (manifestRequest_.IsRunning())
        return;
    manifestRequest_.SetUrl(endpoint);
    manifestRequest_.SetCallback(&UpdateModule::ManifestCallback, reinterpret_cast<uintptr_t>(helper_));
    SubmitCommand(&manifestRequest_);
}

int UpdateModule::ManifestCallback(uintptr_t userData, std::string& body, int errType, int code)
{
    UpdateModule* self = FromUserData(userData);
    if (!self)
        return 0;
    self->manifestText_ = Utf8ToWide(body);
    self->Post(UM_MANIFEST_DONE, static_cast<WPARAM>(errType), static_cast<LPARAM>(code));
    return 0;
}

void UpdateModule::HandleManifestDone(int errType, int code)
{
    manifestRequest_.Stop();
    if (errType != 0) {
        if (static_cast<size_t>(attempts_) < endpoints_.size()) {
            RequestManifest();
            return;
        }
        if (listener_)
            listener_->OnManifestResult(errType, code, std::wstring());
        return;
    }
    // The copy and the package go into the package directory. Gone and not to
    // be made again (a drive taken away), the stage failed: the window's retry
    // fetches the manifest again.
    if (!CreateDir(packageDir_)) {
        if (listener_)
            listener_->OnManifestResult(ERR_USER, UM_ERR_PACKAGE_DIR, std::wstring());
        return;
    }
    // A copy that cannot be written leaves the values of an earlier one.
    SaveManifestCopy(packageDir_, manifestText_);
    UpdateManifestValues values = ReadManifestValues(packageDir_);
    packageUrl_ = values.url;
    sizeText_ = values.sizeText;
    md5_ = values.md5;
    haveManifest_ = true;
    // A download that cannot start reports through its own result; the
    // manifest stage itself did succeed.
    StartInstallerDownload();
    if (listener_)
        listener_->OnManifestResult(0, code, values.version);
}

// --- package download --------------------------------------------------------------

bool UpdateModule::StartInstallerDownload()
{
    packagePath_ = packageDir_ + L"\\" + kPackageName;
    downloading_ = true;
    // The directory may have gone since the manifest was saved (removed by
    // hand, a drive taken away). Without a result here the window would wait
    // for ever, so the failure travels like a failed download and is retried.
    if (!CreateDir(packageDir_)) {
        Post(UM_DOWNLOAD_DONE, static_cast<WPARAM>(ERR_USER), static_cast<LPARAM>(UM_ERR_PACKAGE_DIR));
        return false;
    }
    const int64_t expected = ParseManifestSize(sizeText_);
    // Refused while the download runs: the running one reports.
    download_.Download(packageUrl_, packagePath_ + kTemporarySuffix, static_cast<uint64_t>(expected),
                       reinterpret_cast<uintptr_t>(helper_), &UpdateModule::DownloadDoneCallback,
                       &UpdateModule::DownloadProgressCallback);
    return true;
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
    if (!downloading_)
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
    if (!downloading_)
        return;
    download_.Stop();
    downloading_ = false;

    const std::wstring temporary = TemporaryPath();
    std::wstring message;
    if (errType == 0) {
        FinishPackage(errType, code, message);
    } else {
        // An empty file has nothing to resume; one with content stays for the
        // next attempt.
        if (GetFileSize64(temporary) <= 0)
            DeleteFileOnce(temporary);
        message = kFailureText;
    }
    if (listener_)
        listener_->OnDownloadResult(errType, code, message);
}

void UpdateModule::FinishPackage(int& errType, int& code, std::wstring& message)
{
    const std::wstring temporary = TemporaryPath();
    // The package is run with administrator rights: a download that does not
    // match the manifest's checksum must never take its place. Its content is
    // wrong, so it is not kept for resuming either.
    const PackageCheck check = CheckPackageMd5(temporary, md5_);
    if (check == PackageCheck::kMismatch || check == PackageCheck::kUnreadable) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] package check failed:%d md5:%s path:%s", static_cast<int>(check),
               md5_.c_str(), temporary.c_str());
        if (!DeleteFileOnce(temporary))
            OV_LOG(LOG_ERROR, kSource, L"[UM] delete failed:%u path:%s", static_cast<unsigned>(GetLastError()),
                   temporary.c_str());
        errType = ERR_USER;
        code = UM_ERR_PACKAGE_CHECK;
        message = kFailureText;
        return;
    }
    if (!DeleteFileOnce(packagePath_) || !MoveFileOnce(temporary, packagePath_)) {
        errType = ERR_USER;
        code = UM_ERR_REPLACE;
    }
}
