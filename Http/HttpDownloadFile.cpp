#include "Http/HttpDownloadFile.h"

#include <cwchar>

#include "Http/HttpLog.h"
#include "Http/HttpMgr.h"

namespace {

const wchar_t kSource[] = L".\\Http\\HttpDownloadFile";

}  // namespace

// --- DownloadWriteFile ----------------------------------------------------------

bool DownloadWriteFile::Open(const std::wstring& path)
{
    Close();
    path_ = path;
    CFileExException error;
    if (!file_.Open(path, kOpenFlags, &error)) {
        CSingleton<ConsoleLogger>::Instance().LogEx(LOG_ERROR, __LINE__, kSource, L"[DownloadWriteFile]打开错误:%d", 1);
        HTTP_LOG_F(LOG_ERROR, kSource, L"[DownloadWriteFile]打开错误 %d:%d", 1, error.code);
        SetError(DOWNLOAD_ERR_OPEN, ERR_SYS);
        return false;
    }
    try {
        length_ = file_.Seek(0, CFileEx::kEnd);
    } catch (const CFileExException& e) {
        // Appending at the wrong place would corrupt the file: refuse it.
        CSingleton<ConsoleLogger>::Instance().LogEx(LOG_ERROR, __LINE__, kSource, L"[DownloadWriteFile]打开错误:%d", 1);
        HTTP_LOG_F(LOG_ERROR, kSource, L"[DownloadWriteFile]打开错误 %d:%d", 1, e.code);
        file_.Abort();
        SetError(DOWNLOAD_ERR_OPEN, ERR_SYS);
        return false;
    }
    return true;
}

int32_t DownloadWriteFile::Write(const void* data, uint32_t count)
{
    if (!file_.IsOpen()) {
        SetError(DOWNLOAD_ERR_NOT_OPEN, ERR_USER);
        return -1;
    }
    if (limit_ != 0 && length_ + count > limit_) {
        HTTP_LOG_F(LOG_ERROR, kSource, L"[DownloadWriteFile]longer than expected %lld", static_cast<long long>(limit_));
        SetError(DOWNLOAD_ERR_LENGTH_MISMATCH, ERR_USER);
        return -1;
    }
    try {
        file_.Write(data, count);
        length_ += count;
    } catch (const CFileExException& e) {
        CSingleton<ConsoleLogger>::Instance().LogEx(LOG_ERROR, __LINE__, kSource, L"[DownloadWriteFile]打开错误:%d", 1);
        HTTP_LOG_F(LOG_ERROR, kSource, L"[DownloadWriteFile]打开错误 %d:%d", 1, e.code);
        SetError(e.code, ERR_SYS);
        return -1;
    }
    return static_cast<int32_t>(count);
}

void DownloadWriteFile::Close()
{
    if (file_.IsOpen()) {
        try {
            file_.Close();
        } catch (const CFileExException& e) {
            HTTP_LOG_F(LOG_ERROR, kSource, L"[DownloadWriteFile]close error %d", e.code);
        }
    }
    SetError(0, 0);
}

void DownloadWriteFile::Discard()
{
    if (file_.IsOpen()) {
        try {
            file_.SetLength(0);
            file_.Seek(0, CFileEx::kBegin);
            length_ = 0;
        } catch (const CFileExException& e) {
            HTTP_LOG_F(LOG_ERROR, kSource, L"[DownloadWriteFile]discard error %d", e.code);
        }
    } else if (!path_.empty()) {
        if (!DeleteFileW(path_.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            HTTP_LOG_F(LOG_ERROR, kSource, L"[DownloadWriteFile]delete error %d", static_cast<int>(GetLastError()));
    }
}

int64_t DownloadLocalFileSize(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        LARGE_INTEGER size;
        BOOL ok = GetFileSizeEx(h, &size);
        CloseHandle(h);
        if (ok)
            return size.QuadPart;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void TruncateDownload(const std::wstring& path, uint64_t size)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        HTTP_LOG_F(LOG_ERROR, kSource, L"[DownloadWriteFile]truncate open error %d", static_cast<int>(GetLastError()));
        return;
    }
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h))
        HTTP_LOG_F(LOG_ERROR, kSource, L"[DownloadWriteFile]truncate error %d", static_cast<int>(GetLastError()));
    CloseHandle(h);
}

// --- CHttpDownloadFile ----------------------------------------------------------

CHttpDownloadFile::CHttpDownloadFile() : CHttpBase(DownloadWorkshop(), DownloadManager()) {}

CHttpDownloadFile::CHttpDownloadFile(CCurlWorkshop* workshop, CHttpMgr* manager) : CHttpBase(workshop, manager) {}

CHttpDownloadFile::~CHttpDownloadFile()
{
    Stop();
}

bool CHttpDownloadFile::Download(const std::wstring& url, const std::wstring& localPath, uint64_t expectedSize,
                                 uintptr_t userData, DownloadDoneCallback done, DownloadProgressCallback progress)
{
    if (running_)
        return false;
    url_ = url;
    localPath_ = localPath;
    expectedSize_ = expectedSize;
    doneCallback_ = done;
    progressCallback_ = progress;
    userData_ = userData;
    return SubmitDownload(this);
}

bool CHttpDownloadFile::Start()
{
    if (running_)
        return false;
    ReleaseTransfer();

    CCurlHttp* http = new CCurlHttp(manager_);
    transfer_ = http;
    http->SetProgressEvents(true);
    http->SetReceiveBufferBytes(CCurlBase::kBulkReceiveBufferBytes);

    DownloadWriteFile* file = new DownloadWriteFile();
    if (!file->Open(localPath_)) {
        const int type = file->ErrorType();
        const int code = file->ErrorCode();
        delete file;
        // Last use of this object: the callback may delete it.
        if (doneCallback_)
            doneCallback_(userData_, type, code);
        return false;
    }
    file->SetLimit(expectedSize_);
    http->SetWriteStream(file);
    HTTP_LOG_F(LOG_INFO, kSource, L"CHttpDownloadFile::Start() localPath:%s", localPath_.c_str());

    int64_t size = DownloadLocalFileSize(localPath_);
    if (size < 0) {
        HTTP_LOG_F(LOG_INFO, kSource, L"无需断点下载 %s ", localPath_.c_str());
        size = 0;
    }
    const uint64_t have = static_cast<uint64_t>(size);
    if (expectedSize_ == 0) {
        http->SetResumeRequested(false);
        file->Discard();
        resumeOffset_ = 0;
    } else if (have > expectedSize_) {
        HTTP_LOG_TF(LOG_ERROR, LOG_ERROR, kSource, L"%s文件大小(%lld)大于预期(%lld)大小  ", localPath_.c_str(),
                    static_cast<long long>(have), static_cast<long long>(expectedSize_));
        http->SetResumeRequested(false);
        file->Discard();
        resumeOffset_ = 0;
    } else if (have == expectedSize_) {
        HTTP_LOG_TF(LOG_ERROR, LOG_INFO, kSource, L"文件大小等于预计大小，下载已完成 %s pos:%lld", localPath_.c_str(),
                    static_cast<long long>(have));
        // The caller goes on to move or run the finished file: it must not be
        // held open by a transfer that never runs.
        ReleaseTransfer();
        if (doneCallback_)
            doneCallback_(userData_, 0, 0);
        return false;
    } else if (have == 0) {
        HTTP_LOG_TF(LOG_ERROR, LOG_INFO, kSource, L"非断点 %s pos:%lld", localPath_.c_str(), static_cast<long long>(have));
        http->SetResumeRequested(false);
        resumeOffset_ = 0;
    } else {
        HTTP_LOG_TF(LOG_ERROR, LOG_INFO, kSource, L"开始断点下载 %s pos:%lld", localPath_.c_str(),
                    static_cast<long long>(have));
        http->SetResumeRequested(true);
        resumeOffset_ = have;
    }
    return CHttpBase::Start();
}

void CHttpDownloadFile::Stop()
{
    received_ = 0;
    sinceLastTick_ = 0;
    contentLength_ = 0;
    lengthUnannounced_ = false;
    CHttpBase::Stop();
}

void CHttpDownloadFile::Done(CURLcode curlCode)
{
    if (!running_)
        return;
    NoteUnfollowedRedirect(curlCode);
    NoteProxyAuth();
    const bool checkLength = lengthUnannounced_ && curlCode == CURLE_OK && expectedSize_ != 0;
    // A file that refused bytes it must never hold (an answer longer than
    // expected) says so; retrying the same answer cannot help. Read before
    // Stop closes the file and clears its error.
    int streamCode = 0;
    if (CCurlHttp* http = Http())
        if (OBaseStream* out = http->WriteStream())
            if (out->ErrorType() == ERR_USER)
                streamCode = out->ErrorCode();
    Stop();
    result_[L"curl"][L"code"] = static_cast<int>(curlCode);
    if (streamCode != 0)
        result_[L"user"][L"code"] = streamCode;
    if (checkLength) {
        // Nothing was announced to check before the body: a body that ended
        // early (a connection closed between chunks) or ran long is found out
        // here, rather than passed on as the file.
        const int64_t size = DownloadLocalFileSize(localPath_);
        if (size != static_cast<int64_t>(expectedSize_)) {
            HTTP_LOG_TF(LOG_ERROR, LOG_ERROR, kSource, L"长度不一致 预期值:%lld 实际值:%lld",
                        static_cast<long long>(expectedSize_), static_cast<long long>(size));
            result_[L"user"][L"code"] = static_cast<int>(DOWNLOAD_ERR_LENGTH_MISMATCH);
        }
    }
    int code = 0;
    int type = 0;
    Classify(code, type);
    result_.Reset();

    if (attempts_ <= maxRetries_ && type == ERR_CURL && code != 0) {
        HTTP_LOG_TF(LOG_ERROR, LOG_INFO, kSource, L"CHttpDownloadFile::Done() 重试.... code:%d errtype:%d  url:%s ", code,
                    type, url_.c_str());
        BeginRetryWait();
        SubmitDownload(this);
        return;
    }
    if (type == ERR_OK) {
        if (doneCallback_)
            doneCallback_(userData_, 0, code);
        return;
    }
    HTTP_LOG_TF(LOG_ERROR, LOG_INFO, kSource, L"CHttpDownloadFile::Done()  code:%d errtype:%d  url:%s ", code, type,
                url_.c_str());
    if (doneCallback_)
        doneCallback_(userData_, type, code);
}

void CHttpDownloadFile::OnHttpCode(int status)
{
    if (status >= 300 && status <= 399) {
        CSingleton<ConsoleLogger>::Instance().LogEx(LOG_INFO, __LINE__, kSource, L"重定向中... url:%s", url_.c_str());
        HTTP_LOG_F(LOG_INFO, kSource, L"重定向中...  url:%s", url_.c_str());
        return;
    }
    // An interim answer: the final one follows, with its own headers.
    if (IsPassingStatus(status))
        return;
    result_[L"http"][L"code"] = status;
    // An error answer ends the attempt without a byte of it in the file.
    CCurlHttp* http = Http();
    if (status < 200 || status > 299 || !http)
        return;
    switch (http->RangeOutcome()) {
    case CCurlHttp::kRangeIgnored:
        HTTP_LOG_CF(LOG_INFO, kSource, L"不支持断点续传 url:%s", url_.c_str());
        resumeOffset_ = 0;
        break;
    case CCurlHttp::kRangeRefused:
        // The worker has emptied the file: the next attempt asks for all of it
        // instead of meeting the same answer again.
        HTTP_LOG_TF(LOG_ERROR, LOG_ERROR, kSource, L"断点续传范围不符 url:%s", url_.c_str());
        RejectAnswer(0);
        return;
    default:
        break;
    }
    const long long value = _wcstoi64(http->Headers().Find(L"Content-Length").string().c_str(), nullptr, 10);
    if (value <= 0) {
        lengthUnannounced_ = true;
        contentLength_ = expectedSize_ > resumeOffset_ ? expectedSize_ - resumeOffset_ : 0;
    } else {
        contentLength_ = static_cast<uint64_t>(value);
        if (expectedSize_ != 0 && contentLength_ + resumeOffset_ != expectedSize_) {
            HTTP_LOG_TF(LOG_ERROR, LOG_ERROR, kSource, L"长度不一致 预期值:%lld 实际值:%lld",
                        static_cast<long long>(expectedSize_), static_cast<long long>(contentLength_ + resumeOffset_));
            RejectAnswer(resumeOffset_);
            return;
        }
    }
    if (progressCallback_ && contentLength_ != 0)
        progressCallback_(userData_, resumeOffset_ + contentLength_, resumeOffset_, 0);
}

void CHttpDownloadFile::RejectAnswer(uint64_t keep)
{
    Stop();
    // The body streams into the file on the worker while the event that
    // rejects it travels here, so part of it is already written. Cut it off
    // (the stream is closed now): a later resume must not build on it, and a
    // package without a checksum would otherwise run with foreign bytes.
    TruncateDownload(localPath_, keep);
    if (doneCallback_)
        doneCallback_(userData_, ERR_USER, DOWNLOAD_ERR_LENGTH_MISMATCH);
}

void CHttpDownloadFile::OnProgressTick()
{
    if (!running_ || !progressCallback_ || contentLength_ == 0)
        return;
    speedSamples_.push_back(sinceLastTick_);
    received_ += sinceLastTick_;
    sinceLastTick_ = 0;
    if (speedSamples_.size() > kMaxSpeedSamples)
        speedSamples_.pop_front();
    // The mean of the samples held: one per second, so bytes per second, and
    // right from the first second rather than a tenth of it.
    uint64_t sum = 0;
    for (uint32_t sample : speedSamples_)
        sum += sample;
    const uint32_t speed = static_cast<uint32_t>(sum / speedSamples_.size());
    progressCallback_(userData_, resumeOffset_ + contentLength_, resumeOffset_ + received_, speed);
}

void CHttpDownloadFile::AddRecvBytes(int64_t bytes)
{
    sinceLastTick_ += static_cast<uint32_t>(bytes);
}
