#include "Http/HttpRangePart.h"

#include <algorithm>
#include <cwchar>

#include "Http/HttpDownloadFile.h"
#include "Http/HttpLog.h"
#include "Http/HttpMgr.h"
#include "Runtime/CriticalSectionGuard.h"

namespace {

const wchar_t kSource[] = L".\\Http\\HttpRangePart";

// The part's output: positioned writes into the shared file, never outside
// the part's range.
class RangeWriteStream : public OBaseStream {
public:
    RangeWriteStream(const CRefPtr<RangeFile>& file, const CRefPtr<RangePartState>& state)
        : file_(file), state_(state)
    {
    }

    int32_t Write(const void* data, uint32_t count) override
    {
        if (!file_) {
            SetError(DOWNLOAD_ERR_NOT_OPEN, ERR_USER);
            return -1;
        }
        uint64_t at = 0;
        const uint32_t allowed = state_->Admit(count, at);
        if (allowed != 0) {
            DWORD error = 0;
            if (!file_->WriteAt(at, data, allowed, &error)) {
                HTTP_LOG_F(LOG_ERROR, kSource, L"[RangeWriteStream]write error %d at:%lld", static_cast<int>(error),
                           static_cast<long long>(at));
                state_->SetWriteError(static_cast<int32_t>(error));
                SetError(static_cast<int32_t>(error), ERR_SYS);
                return -1;
            }
            state_->Advance(allowed);
        }
        // Fewer bytes than handed over end the transfer (libcurl's write
        // error); the part's state says whether that was its planned end.
        return static_cast<int32_t>(allowed);
    }

    // An answer that is not for this range: nothing of it may be written,
    // and the shared file is not this stream's to empty.
    void Discard() override { state_->SetIgnored(); }

    void Close() override
    {
        file_.Reset();
        SetError(0, 0);
    }

private:
    CRefPtr<RangeFile> file_;
    CRefPtr<RangePartState> state_;
};

}  // namespace

// --- RangeFile --------------------------------------------------------------------

RangeFile::RangeFile()
{
    InitializeCriticalSection(&lock_);
}

RangeFile::~RangeFile()
{
    if (handle_ != INVALID_HANDLE_VALUE && !CloseHandle(handle_))
        HTTP_LOG_F(LOG_ERROR, kSource, L"[RangeFile]close error %d", static_cast<int>(GetLastError()));
    DeleteCriticalSection(&lock_);
}

bool RangeFile::Open(const std::wstring& path, DWORD* error)
{
    // As a download opens its file (DownloadWriteFile::kOpenFlags): read and
    // write, others may read but not write, not inherited, created when
    // missing, never truncated (the parts already there are kept).
    handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    return true;
}

bool RangeFile::WriteAt(uint64_t offset, const void* data, uint32_t count, DWORD* error)
{
    // Every write moves the one file position under this lock, then writes
    // there: a plain write is the path a download always took (a positioned
    // one costs Wine a detour per call).
    CriticalSectionGuard guard(&lock_);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (offset != position_ && !SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN)) {
        *error = GetLastError();
        position_ = UINT64_MAX;
        return false;
    }
    position_ = offset;
    const char* bytes = static_cast<const char*>(data);
    while (count != 0) {
        DWORD written = 0;
        if (!WriteFile(handle_, bytes, count, &written, nullptr) || written == 0) {
            *error = GetLastError();
            if (*error == 0)
                *error = ERROR_WRITE_FAULT;
            position_ = UINT64_MAX;
            return false;
        }
        bytes += written;
        position_ += written;
        count -= written;
    }
    return true;
}

bool RangeFile::SetLength(uint64_t length)
{
    CriticalSectionGuard guard(&lock_);
    FILE_END_OF_FILE_INFO info;
    info.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    if (SetFileInformationByHandle(handle_, FileEndOfFileInfo, &info, sizeof info))
        return true;
    HTTP_LOG_F(LOG_ERROR, kSource, L"[RangeFile]set length error %d", static_cast<int>(GetLastError()));
    return false;
}

// --- RangePartState ------------------------------------------------------------

RangePartState::RangePartState(uint64_t begin, uint64_t end) : begin_(begin), pos_(begin), end_(end), askedEnd_(end)
{
    InitializeCriticalSection(&lock_);
}

RangePartState::~RangePartState()
{
    DeleteCriticalSection(&lock_);
}

RangePartState::Snapshot RangePartState::Read() const
{
    CriticalSectionGuard guard(&lock_);
    return Snapshot{begin_, pos_, end_, cut_, overflow_, ignored_, writeError_};
}

void RangePartState::BeginAttempt()
{
    CriticalSectionGuard guard(&lock_);
    askedEnd_ = end_;
    cut_ = overflow_ = ignored_ = false;
    writeError_ = 0;
}

bool RangePartState::LowerEnd(uint64_t end)
{
    CriticalSectionGuard guard(&lock_);
    if (end <= pos_ || end >= end_)
        return false;
    end_ = end;
    return true;
}

uint32_t RangePartState::Admit(uint32_t count, uint64_t& at)
{
    CriticalSectionGuard guard(&lock_);
    at = pos_;
    if (ignored_)
        return 0;
    const uint64_t room = end_ - pos_;
    if (count <= room)
        return count;
    // More than the range holds: the rest belongs to a part split off this
    // one (a planned end), or the server sends what it was not asked for.
    if (end_ < askedEnd_)
        cut_ = true;
    else
        overflow_ = true;
    return static_cast<uint32_t>(room);
}

void RangePartState::Advance(uint32_t count)
{
    CriticalSectionGuard guard(&lock_);
    pos_ += count;
}

void RangePartState::SetIgnored()
{
    CriticalSectionGuard guard(&lock_);
    ignored_ = true;
}

void RangePartState::SetWriteError(int32_t code)
{
    CriticalSectionGuard guard(&lock_);
    writeError_ = code;
}

// --- CHttpRangePart -----------------------------------------------------------------

CHttpRangePart::CHttpRangePart(RangePartOwner* owner, size_t index)
    : CHttpBase(DownloadWorkshop(), DownloadManager()), owner_(owner), index_(index)
{
}

CHttpRangePart::~CHttpRangePart()
{
    Stop();
}

void CHttpRangePart::Assign(const std::wstring& url, const CRefPtr<RangeFile>& file,
                            const CRefPtr<RangePartState>& state, uint64_t total, size_t mirror)
{
    if (running_)
        return;
    if (url != url_)
        ResetAttempts();
    url_ = url;
    file_ = file;
    state_ = state;
    total_ = total;
    mirror_ = mirror;
}

void CHttpRangePart::Unassign()
{
    Stop();
    file_.Reset();
    state_.Reset();
}

bool CHttpRangePart::Start()
{
    if (running_ || !file_ || !state_)
        return false;
    ReleaseTransfer();
    state_->BeginAttempt();
    const RangePartState::Snapshot range = state_->Read();
    CCurlHttp* http = new CCurlHttp(manager_);
    transfer_ = http;
    http->SetProgressEvents(true);
    // The first part is the probe that a fast line finishes alone.
    if (index_ == 0)
        http->SetReceiveBufferBytes(CCurlBase::kBulkReceiveBufferBytes);
    http->SetWriteStream(new RangeWriteStream(file_, state_));
    http->SetResumeRequested(true);
    http->SetClosedRange(range.end - 1, total_);
    resumeOffset_ = range.pos;
    askedLength_ = range.end - range.pos;
    HTTP_LOG_F(LOG_INFO, kSource, L"CHttpRangePart::Start() part:%d bytes=%lld-%lld url:%s", static_cast<int>(index_),
               static_cast<long long>(range.pos), static_cast<long long>(range.end - 1), url_.c_str());
    return CHttpBase::Start();
}

void CHttpRangePart::OnHttpCode(int status)
{
    if (IsPassingStatus(status))
        return;
    result_[L"http"][L"code"] = status;
    CCurlHttp* http = Http();
    if (status < 200 || status > 299 || !http)
        return;
    if (http->RangeOutcome() != CCurlHttp::kRangeKept) {
        HTTP_LOG_TF(LOG_ERROR, LOG_ERROR, kSource, L"range not served as asked: status:%d part:%d url:%s", status,
                    static_cast<int>(index_), url_.c_str());
        Stop();
        owner_->OnRangesRefused(this);
        return;
    }
    // A 206 for our range that announces another length is a server that
    // cannot be believed about this range.
    const long long length = _wcstoi64(http->Headers().Find(L"Content-Length").string().c_str(), nullptr, 10);
    if (length > 0 && static_cast<uint64_t>(length) != askedLength_) {
        HTTP_LOG_TF(LOG_ERROR, LOG_ERROR, kSource, L"长度不一致 预期值:%lld 实际值:%lld",
                    static_cast<long long>(askedLength_), length);
        Stop();
        owner_->OnPartDone(this, ERR_USER, DOWNLOAD_ERR_LENGTH_MISMATCH);
        return;
    }
    owner_->OnPartAnswered(this);
}

void CHttpRangePart::Done(CURLcode curlCode)
{
    if (!running_)
        return;
    NoteUnfollowedRedirect(curlCode);
    NoteProxyAuth();
    Stop();
    const RangePartState::Snapshot range = state_->Read();
    result_[L"curl"][L"code"] = static_cast<int>(curlCode);
    if (range.pos == range.end && (curlCode == CURLE_OK || (curlCode == CURLE_WRITE_ERROR && range.cut))) {
        result_.Reset();
        owner_->OnPartDone(this, ERR_OK, 0);
        return;
    }
    // The range was asked with its length: anything else from the server
    // (more than asked, or an answer that ended short without an error) is
    // a wrong length, not a transport failure to repeat.
    if (range.overflow || curlCode == CURLE_OK)
        result_[L"user"][L"code"] = static_cast<int>(DOWNLOAD_ERR_LENGTH_MISMATCH);
    int code = 0;
    int type = 0;
    Classify(code, type);
    result_.Reset();
    if (attempts_ <= maxRetries_ && type == ERR_CURL && code != 0) {
        HTTP_LOG_TF(LOG_ERROR, LOG_INFO, kSource, L"CHttpRangePart::Done() 重试.... part:%d code:%d from:%lld url:%s",
                    static_cast<int>(index_), code, static_cast<long long>(range.pos), url_.c_str());
        BeginRetryWait();
        SubmitDownload(this);
        return;
    }
    HTTP_LOG_TF(LOG_ERROR, LOG_INFO, kSource, L"CHttpRangePart::Done() part:%d code:%d errtype:%d url:%s",
                static_cast<int>(index_), code, type, url_.c_str());
    owner_->OnPartDone(this, type, code);
}

void CHttpRangePart::OnProgressTick()
{
    if (running_)
        owner_->OnPartTick();
}
