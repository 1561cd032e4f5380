#include "Http/HttpCommand.h"

#include "Http/CurlWorkshop.h"
#include "Http/HttpLog.h"
#include "Http/HttpMgr.h"
#include "Runtime/BaseStream.h"

namespace {

const wchar_t kSource[] = L".\\Http\\HttpCommand";
// A retry with less time than this left could not finish anything.
const DWORD kLeastRetryMs = 2000;

// The response body in memory, refusing to grow past a limit: a server (or
// anybody on the way) must not make the program hold an answer of any size.
class LimitedBufferStream : public OBufferStream {
public:
    explicit LimitedBufferStream(uint32_t limit) : limit_(limit) {}
    int32_t Write(const void* data, uint32_t count) override
    {
        if (limit_ != 0 && static_cast<uint64_t>(Size()) + count > limit_) {
            SetError(COMMAND_ERR_BODY_TOO_LARGE, ERR_USER);
            return -1;
        }
        return OBufferStream::Write(data, count);
    }

private:
    uint32_t limit_;
};

int64_t CodeOf(const ProtoValue& result, const wchar_t* name)
{
    return result.Find(name).Find(L"code").integer();
}

}  // namespace

const wchar_t* ErrTypeName(int type)
{
    switch (type) {
    case ERR_OK: return L"ok";
    case ERR_SYS: return L"sys";
    case ERR_CRT: return L"crt";
    case ERR_USER: return L"user";
    case ERR_HTTP: return L"http";
    case ERR_CURL: return L"curl";
    default: return L"";
    }
}

void ClassifyResult(const ProtoValue& result, int& code, int& type)
{
    if (result.Has(L"sys") && CodeOf(result, L"sys") != 0) {
        code = static_cast<int>(CodeOf(result, L"sys"));
        type = ERR_SYS;
    } else if (result.Has(L"user") && CodeOf(result, L"user") != 0) {
        code = static_cast<int>(CodeOf(result, L"user"));
        type = ERR_USER;
    } else if (result.Has(L"http") && (CodeOf(result, L"http") < 100 || CodeOf(result, L"http") > 299)) {
        // Only final answers are recorded: a 3xx here is a redirect that could
        // not be followed, and the resource never came.
        code = static_cast<int>(CodeOf(result, L"http"));
        type = ERR_HTTP;
    } else if (result.Has(L"curl") && CodeOf(result, L"curl") != 0) {
        code = static_cast<int>(CodeOf(result, L"curl"));
        type = ERR_CURL;
    } else {
        code = 0;
        type = ERR_OK;
    }
}

// --- CHttpBase ------------------------------------------------------------------

CHttpBase::CHttpBase(CCurlWorkshop* workshop, CHttpMgr* manager) : manager_(manager), workshop_(workshop) {}

CHttpBase::~CHttpBase()
{
    CHttpBase::Stop();
}

void CHttpBase::PrepareHandle()
{
    if (CCurlHttp* http = Http())
        http->Prepare(url_, method_, resumeOffset_, connectTimeout_);
}

bool CHttpBase::Start()
{
    if (running_)
        return false;
    ++attempts_;
    running_ = true;
    // An attempt that was stopped half-way never classified its result; its
    // status must not decide the outcome of this one.
    result_.Reset();
    PrepareHandle();
    if (transfer_ && workshop_)
        workshop_->AddTransfer(transfer_);
    return true;
}

void CHttpBase::Stop()
{
    if (running_) {
        running_ = false;
        if (transfer_ && workshop_)
            workshop_->RemoveTransfer(transfer_);
    }
    ReleaseTransfer();
    // A manager that was deleted without clearing this request (the request
    // was bound at construction and never queued) must not be called.
    if (manager_ && CurlListener::IsLive(manager_))
        manager_->Remove(this);
    manager_ = nullptr;
}

void CHttpBase::NoteUnfollowedRedirect(CURLcode code)
{
    CCurlHttp* http = Http();
    if (http && http->EndedOnRedirect(code)) {
        OV_LOG(LOG_ERROR, kSource, L"redirect without a usable Location httpcode:%d url:%s",
               http->HttpStatus(), url_.c_str());
        result_[L"http"][L"code"] = http->HttpStatus();
    }
}

void CHttpBase::NoteProxyAuth()
{
    if (transfer_ && transfer_->ProxyAuthRequired()) {
        OV_LOG(LOG_ERROR, kSource, L"the proxy asks for credentials url:%s", url_.c_str());
        result_[L"user"][L"code"] = static_cast<int>(HTTP_ERR_PROXY_AUTH);
    }
}

void CHttpBase::ReleaseTransfer()
{
    if (!transfer_)
        return;
    transfer_->SetActive(false);
    transfer_->CloseStreams();
    transfer_.Reset();
}

// --- CHttpCommand ---------------------------------------------------------------

CHttpCommand::CHttpCommand() : CHttpBase(CommandWorkshop(), CommandManager()) {}

CHttpCommand::CHttpCommand(CCurlWorkshop* workshop, CHttpMgr* manager) : CHttpBase(workshop, manager) {}

CHttpCommand::~CHttpCommand()
{
    Stop();
}

bool CHttpCommand::Start()
{
    OV_LOG(LOG_INFO, kSource, L"CHttpCommand::Start");
    if (running_)
        return false;
    ReleaseTransfer();
    CCurlHttp* http = new CCurlHttp(manager_);
    transfer_ = http;
    http->SetWriteStream(new LimitedBufferStream(maxBody_));
    if (!retrying_)
        deadlineStart_ = GetTickCount();
    retrying_ = false;
    if (deadlineMs_ != 0) {
        const DWORD spent = GetTickCount() - deadlineStart_;
        http->SetTimeLimitMs(spent < deadlineMs_ ? static_cast<long>(deadlineMs_ - spent) : 1L);
    }
    if (method_ == kMethodPost && !postData_.empty())
        http->SetReadStream(new IBufferStream(static_cast<uint32_t>(postData_.size()), postData_.data()));
    return CHttpBase::Start();
}

void CHttpCommand::Stop()
{
    // Stopped from outside, the request's next start is a new one; Done
    // stops it before it decides on a retry, so this never cancels one.
    retrying_ = false;
    CHttpBase::Stop();
}

void CHttpCommand::OnHttpCode(int status)
{
    // An interim answer or a redirect is followed by another: only the final
    // one is recorded (an unfollowed redirect is noted when the exchange ends).
    if (IsPassingStatus(status))
        return;
    result_[L"http"][L"code"] = status;
}

void CHttpCommand::Done(CURLcode curlCode)
{
    if (!running_)
        return;
    std::string body;
    result_[L"curl"][L"code"] = static_cast<int>(curlCode);
    NoteUnfollowedRedirect(curlCode);
    NoteProxyAuth();
    if (CCurlHttp* http = Http()) {
        if (OBaseStream* out = http->WriteStream()) {
            if (out->ErrorCode() != 0 || out->ErrorType() != 0)
                result_[ErrTypeName(out->ErrorType())][L"code"] = out->ErrorCode();
            if (OBufferStream* buffer = dynamic_cast<OBufferStream*>(out))
                if (buffer->Buffer() && buffer->Size() > 0)
                    body.assign(reinterpret_cast<const char*>(buffer->Buffer()), buffer->Size());
        }
    }
    Stop();

    int code = 0;
    int type = 0;
    Classify(code, type);
    result_.Reset();

    const bool timeLeft = deadlineMs_ == 0 || GetTickCount() - deadlineStart_ + kLeastRetryMs <= deadlineMs_;
    if (attempts_ <= maxRetries_ && type == ERR_CURL && code != 0 && timeLeft) {
        OV_LOG(LOG_INFO, kSource, L"CHttpCommand::Done() 重试.... code:%d errtype:%d  url:%s ", code, type, url_.c_str());
        BeginRetryWait();
        retrying_ = true;
        SubmitCommand(this);
        return;
    }
    if (type != 0)
        OV_LOG(LOG_INFO, kSource, L"CHttpCommand::Done()  code:%d errtype:%d  url:%s ", code, type, url_.c_str());
    attempts_ = 0;
    // Last use of this object: the callback may delete it.
    if (callback_)
        callback_(userData_, body, type, code);
}
