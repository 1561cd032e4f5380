#include "Http/CurlHttp.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cwctype>
#include <exception>
#include <set>

#include "Http/CurlGlobal.h"
#include "Http/HttpLog.h"
#include "Http/ProxyOptions.h"
#include "Http/ProxyResolver.h"
#include "Http/RangePlan.h"
#include "Http/TlsPeerCheck.h"
#include "Runtime/CriticalSectionGuard.h"
#include "Runtime/MainThreadDispatch.h"
#include "Runtime/TextUtil.h"

namespace {

const wchar_t kSource[] = L".\\Http\\CurlHttp";
// A connection on which nothing arrives for this long is given up as a curl
// time-out (28), which the request and the window then retry, resuming the
// file. Without it a server that holds the socket open and sends nothing (a
// dead link, a captive portal) keeps the installer at its progress bar for
// ever, and a stalled primary manifest endpoint never lets the secondary one
// be tried.
const long kStallLimitBytesPerSecond = 1;
const long kStallSeconds = 15;
const DWORD kEventIntervalMs = 100;
const size_t kErrorBodyLogLimit = 1000;

// Listeners are created, destroyed and called on the UI thread only.
std::set<const CurlListener*>& LiveListeners()
{
    static std::set<const CurlListener*> live;
    return live;
}

// One dispatcher per listener slot: call the listener if it still exists.
CurlListener* LiveListenerOf(const CRefPtr<CCurlBase>& transfer)
{
    if (!transfer)
        return nullptr;
    CurlListener* listener = transfer->Listener();
    return CurlListener::IsLive(listener) ? listener : nullptr;
}

void DispatchDone(const CRefPtr<CCurlBase>& t, CURLcode code)
{
    if (CurlListener* l = LiveListenerOf(t))
        l->OnDone(t.get(), code);
}
void DispatchRecvBytes(const CRefPtr<CCurlBase>& t, unsigned int bytes)
{
    if (CurlListener* l = LiveListenerOf(t))
        l->OnRecvBytes(t.get(), bytes);
}
void DispatchSendBytes(const CRefPtr<CCurlBase>& t, unsigned int bytes)
{
    if (CurlListener* l = LiveListenerOf(t))
        l->OnSendBytes(t.get(), bytes);
}
void DispatchHttpCode(const CRefPtr<CCurlBase>& t, int status)
{
    if (CurlListener* l = LiveListenerOf(t))
        l->OnHttpCode(t.get(), status);
}
void DispatchRemoved(const CRefPtr<CCurlBase>& t, int value)
{
    if (CurlListener* l = LiveListenerOf(t))
        l->OnRemoved(t.get(), value);
}
void DispatchAdded(const CRefPtr<CCurlBase>& t, int value)
{
    if (CurlListener* l = LiveListenerOf(t))
        l->OnAdded(t.get(), value);
}

template <typename V>
void PostEvent(CCurlBase* transfer, void (*func)(const CRefPtr<CCurlBase>&, V), V value)
{
    typedef MainThreadTask2<CRefPtr<CCurlBase>, const CRefPtr<CCurlBase>&, V, V> Task;
    CRefPtr<MainThreadTaskBase> task(new Task(func, CRefPtr<CCurlBase>(transfer), value));
    PostMainThreadTask(&RunTaskTrampoline, task);
}

// "HTTP/1.1 200 OK", "HTTP/2 302": libcurl hands every answer's status line
// to the header callback first.
bool IsStatusLine(const std::string& line)
{
    return line.size() >= 5 && _strnicmp(line.c_str(), "HTTP/", 5) == 0;
}

// First byte of "bytes FIRST-LAST/SIZE" (a Content-Range value); -1 for any
// other form.
int64_t RangeStart(const std::wstring& value)
{
    if (value.size() < 7 || _wcsnicmp(value.c_str(), L"bytes ", 6) != 0)
        return -1;
    size_t at = 6;
    while (at < value.size() && value[at] == L' ')
        ++at;
    if (at >= value.size() || !iswdigit(value[at]))
        return -1;
    wchar_t* end = nullptr;
    const long long first = _wcstoi64(value.c_str() + at, &end, 10);
    return (end && *end == L'-') ? first : -1;
}

}  // namespace

// --- CurlListener -------------------------------------------------------------

CurlListener::CurlListener()
{
    LiveListeners().insert(this);
}

CurlListener::~CurlListener()
{
    LiveListeners().erase(this);
}

bool CurlListener::IsLive(const CurlListener* listener)
{
    return listener && LiveListeners().count(listener) != 0;
}

// --- CCurlBase ------------------------------------------------------------------

namespace {
volatile LONG g_liveTransfers = 0;
}

long CCurlBase::LiveCount()
{
    return InterlockedCompareExchange(&g_liveTransfers, 0, 0);
}

CCurlBase::CCurlBase(CurlListener* listener) : listener_(listener)
{
    InterlockedIncrement(&g_liveTransfers);
}

CCurlBase::~CCurlBase()
{
    InterlockedDecrement(&g_liveTransfers);
    if (easy_) {
        curl_easy_cleanup(easy_);
        easy_ = nullptr;
    }
}

void CCurlBase::PostDone(CURLcode code)
{
    if (code == CURLE_ABORTED_BY_CALLBACK && refusedWith_ != CURLE_OK)
        code = refusedWith_;
    PostEvent<CURLcode>(this, &DispatchDone, code);
}
void CCurlBase::PostRecvBytes(unsigned int bytes)
{
    PostEvent<unsigned int>(this, &DispatchRecvBytes, bytes);
}
void CCurlBase::PostSendBytes(unsigned int bytes)
{
    PostEvent<unsigned int>(this, &DispatchSendBytes, bytes);
}
void CCurlBase::PostHttpCode(int status)
{
    PostEvent<int>(this, &DispatchHttpCode, status);
}
void CCurlBase::PostRemoved()
{
    PostEvent<int>(this, &DispatchRemoved, 0);
}
void CCurlBase::PostAdded()
{
    PostEvent<int>(this, &DispatchAdded, 0);
}

// No exception may unwind through libcurl, which is C: an allocation that
// fails inside a callback ends the transfer as a write error instead.
size_t CCurlBase::HeaderCallback(char* data, size_t size, size_t count, void* user)
{
    CCurlBase* self = static_cast<CCurlBase*>(user);
    if (!self || !self->IsActive())
        return 0;
    try {
        return static_cast<size_t>(self->OnRecieveHeader(data, static_cast<int32_t>(size * count)));
    } catch (const std::exception&) {
        OV_LOG(LOG_ERROR, kSource, L"header callback failed: out of memory");
        return 0;
    }
}

size_t CCurlBase::BodyCallback(char* data, size_t size, size_t count, void* user)
{
    CCurlBase* self = static_cast<CCurlBase*>(user);
    if (!self || !self->IsActive())
        return 0;
    CRefPtr<CCurlBase> hold(self);
    try {
        int32_t n = self->OnRecieveBody(data, static_cast<int32_t>(size * count));
        if (n < 0)
            n = 0;
        self->recvSinceEvent_ += static_cast<uint64_t>(n);
        if (self->progressEvents_) {
            DWORD now = GetTickCount();
            if (now - self->lastEventTick_ > kEventIntervalMs) {
                self->lastEventTick_ = now;
                self->PostRecvBytes(static_cast<unsigned int>(self->recvSinceEvent_ & 0xFFFFFFFFu));
                self->recvSinceEvent_ = 0;
            }
        }
        return static_cast<size_t>(n);
    } catch (const std::exception&) {
        OV_LOG(LOG_ERROR, kSource, L"body callback failed: out of memory");
        return 0;
    }
}

int CCurlBase::PrereqCallback(void* user, char*, char*, int, int)
{
    CCurlBase* self = static_cast<CCurlBase*>(user);
    if (!self || !self->easy_ || !self->IsActive())
        return CURL_PREREQFUNC_ABORT;
    try {
        const char* url = nullptr;
        curl_easy_getinfo(self->easy_, CURLINFO_EFFECTIVE_URL, &url);
        const bool secure = url && _strnicmp(url, "https:", 6) == 0;
        if (self->secureSeen_ && !secure) {
            HTTP_LOG_CF(LOG_ERROR, kSource, L"redirect from https to plain http refused");
            self->refusedWith_ = CURLE_UNSUPPORTED_PROTOCOL;
            return CURL_PREREQFUNC_ABORT;
        }
        self->secureSeen_ = self->secureSeen_ || secure;
        std::wstring detail;
        if (CheckTlsPeer(self->easy_, detail) == TlsPeer::kRefused) {
            HTTP_LOG_CF(LOG_ERROR, kSource, L"TLS peer refused: %s", detail.c_str());
            self->refusedWith_ = CURLE_PEER_FAILED_VERIFICATION;
            return CURL_PREREQFUNC_ABORT;
        }
        return CURL_PREREQFUNC_OK;
    } catch (const std::exception&) {
        return CURL_PREREQFUNC_ABORT;
    }
}

void CCurlBase::SetRoute(const ProxyRoute& route)
{
    route_ = route.empty() ? ProxyRoute(1) : route;
    hop_ = 0;
    routed_ = true;
    if (easy_)
        ApplyProxyHop(easy_, route_[0]);
}

bool CCurlBase::TakeNextHop(CURLcode result, ProxyResolver& resolver)
{
    if (!easy_ || hop_ >= route_.size() || route_[hop_].kind == ProxyHop::kDirect)
        return false;
    const ProxyAnswer answer = ReadProxyAnswer(easy_, result);
    proxyAuthRequired_ = answer.authRequired;
    if (!answer.unreachable)
        return false;
    resolver.MarkFailed(route_[hop_]);
    if (hop_ + 1 >= route_.size()) {
        HTTP_LOG_CF(LOG_ERROR, kSource, L"proxy %S unreachable (curl %d), no other way left url:%S",
                    route_[hop_].CurlProxy().c_str(), static_cast<int>(result), url_.c_str());
        return false;
    }
    ++hop_;
    const ProxyHop& next = route_[hop_];
    HTTP_LOG_CF(LOG_WARN, kSource, L"proxy %S unreachable (curl %d), trying %S url:%S",
                route_[hop_ - 1].CurlProxy().c_str(), static_cast<int>(result),
                next.kind == ProxyHop::kDirect ? "DIRECT" : next.CurlProxy().c_str(), url_.c_str());
    return ApplyProxyHop(easy_, next);
}

size_t CCurlBase::ReadCallback(char* buffer, size_t size, size_t count, void* user)
{
    CCurlBase* self = static_cast<CCurlBase*>(user);
    // A transfer its owner has let go aborts rather than ending the body early:
    // a short body would look like a complete upload to the server.
    if (!self || !self->IsActive())
        return CURL_READFUNC_ABORT;
    CRefPtr<CCurlBase> hold(self);
    int32_t n = self->OnSendBody(buffer, static_cast<int32_t>(std::min<size_t>(size * count, 0x7FFFFFFF)));
    if (n < 0)
        n = 0;
    if (self->progressEvents_) {
        DWORD now = GetTickCount();
        if (now - self->lastEventTick_ > kEventIntervalMs) {
            self->lastEventTick_ = now;
            self->PostSendBytes(static_cast<unsigned int>(n));
        }
    }
    return static_cast<size_t>(n);
}

// --- CCurlHttp ------------------------------------------------------------------

CCurlHttp::CCurlHttp(CurlListener* listener) : CCurlBase(listener)
{
    InitializeCriticalSection(&streamLock_);
    InitializeCriticalSection(&headerLock_);
}

CCurlHttp::~CCurlHttp()
{
    if (writeStream_) {
        writeStream_->Close();
        delete writeStream_;
        writeStream_ = nullptr;
    }
    if (readStream_) {
        readStream_->Close();
        delete readStream_;
        readStream_ = nullptr;
    }
    headers_.Reset();
    DeleteCriticalSection(&headerLock_);
    DeleteCriticalSection(&streamLock_);
}

ProtoValue CCurlHttp::Headers() const
{
    CriticalSectionGuard guard(&headerLock_);
    return headers_;
}

void CCurlHttp::SetWriteStream(OBaseStream* stream)
{
    CriticalSectionGuard guard(&streamLock_);
    if (writeStream_ && writeStream_ != stream) {
        writeStream_->Close();
        delete writeStream_;
    }
    writeStream_ = stream;
}

void CCurlHttp::SetReadStream(IBaseStream* stream)
{
    CriticalSectionGuard guard(&streamLock_);
    if (readStream_ && readStream_ != stream) {
        readStream_->Close();
        delete readStream_;
    }
    readStream_ = stream;
}

void CCurlHttp::CloseStreams()
{
    CriticalSectionGuard guard(&streamLock_);
    if (writeStream_)
        writeStream_->Close();
    if (readStream_)
        readStream_->Close();
}

bool CCurlHttp::Prepare(const std::wstring& url, int method, uint64_t resumeOffset, int connectTimeoutSeconds)
{
    if (!easy_) {
        EnsureCurlGlobalInit();
        easy_ = curl_easy_init();
        if (!easy_) {
            OV_LOG(LOG_ERROR, kSource, L"curl_easy_init failed url:%s", url.c_str());
            return false;
        }
    } else {
        curl_easy_reset(easy_);
    }
    uploadSize_ = 0;
    uploadPosition_ = 0;
    url_ = ToNarrow(url);
    routed_ = false;
    httpStatus_ = kStatusUnknown;
    blockDone_ = true;
    rangeFrom_ = method == kMethodPost ? 0 : resumeOffset;
    rangeAnswer_ = kRangeNotAsked;
    unfollowedRedirect_ = false;
    {
        CriticalSectionGuard guard(&headerLock_);
        headers_.Reset();
    }

    const std::string narrowUrl = ToNarrow(url);
    bool ok = true;
    auto set = [&](CURLoption option, const char* name, CURLcode rc) {
        if (rc != CURLE_OK) {
            ok = false;
            OV_LOG(LOG_ERROR, kSource, L"curl_easy_setopt %S failed:%d option:%d", name, static_cast<int>(rc),
                   static_cast<int>(option));
        }
    };
    // The redirect options are set twice, as the exchange has always been set
    // up; the second values are the ones in force.
    set(CURLOPT_FOLLOWLOCATION, "FOLLOWLOCATION", curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L));
    set(CURLOPT_MAXREDIRS, "MAXREDIRS", curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L));
    set(CURLOPT_URL, "URL", curl_easy_setopt(easy_, CURLOPT_URL, narrowUrl.c_str()));
    set(CURLOPT_HEADERFUNCTION, "HEADERFUNCTION", curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CCurlBase::HeaderCallback));
    set(CURLOPT_HEADERDATA, "HEADERDATA", curl_easy_setopt(easy_, CURLOPT_HEADERDATA, static_cast<CCurlBase*>(this)));
    set(CURLOPT_WRITEFUNCTION, "WRITEFUNCTION", curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CCurlBase::BodyCallback));
    set(CURLOPT_WRITEDATA, "WRITEDATA", curl_easy_setopt(easy_, CURLOPT_WRITEDATA, static_cast<CCurlBase*>(this)));
    set(CURLOPT_READFUNCTION, "READFUNCTION", curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &CCurlBase::ReadCallback));
    set(CURLOPT_READDATA, "READDATA", curl_easy_setopt(easy_, CURLOPT_READDATA, static_cast<CCurlBase*>(this)));
    set(CURLOPT_FOLLOWLOCATION, "FOLLOWLOCATION", curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L));
    set(CURLOPT_MAXREDIRS, "MAXREDIRS", curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 5L));
    // Only HTTP and HTTPS, whatever a manifest names or a server redirects
    // to; a transfer that starts on HTTPS may only be redirected to HTTPS (the
    // request check also refuses any later step back to plain HTTP).
    const bool secure = _wcsnicmp(url.c_str(), L"https:", 6) == 0;
    secureSeen_ = false;
    refusedWith_ = CURLE_OK;
    set(CURLOPT_PROTOCOLS_STR, "PROTOCOLS_STR", curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(CURLOPT_REDIR_PROTOCOLS_STR, "REDIR_PROTOCOLS_STR",
        curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https"));
    set(CURLOPT_PREREQFUNCTION, "PREREQFUNCTION", curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &CCurlBase::PrereqCallback));
    set(CURLOPT_PREREQDATA, "PREREQDATA", curl_easy_setopt(easy_, CURLOPT_PREREQDATA, static_cast<CCurlBase*>(this)));
    set(CURLOPT_CONNECTTIMEOUT, "CONNECTTIMEOUT",
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeoutSeconds)));
    // libcurl's 16 KB default receive buffer would mean one worker cycle per
    // 16 KB (see SetReceiveBufferBytes).
    set(CURLOPT_BUFFERSIZE, "BUFFERSIZE", curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, receiveBufferBytes_));
    set(CURLOPT_LOW_SPEED_LIMIT, "LOW_SPEED_LIMIT",
        curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, kStallLimitBytesPerSecond));
    set(CURLOPT_LOW_SPEED_TIME, "LOW_SPEED_TIME", curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, kStallSeconds));
    if (timeLimitMs_ > 0)
        set(CURLOPT_TIMEOUT_MS, "TIMEOUT_MS", curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, timeLimitMs_));
    // Direct until the worker routes it: never libcurl's environment's choice.
    if (!ApplyProxyHop(easy_, ProxyHop()))
        ok = false;

    if (method == kMethodPost) {
        // Without post data there is no read stream: the body is empty.
        const uint64_t size = readStream_ ? readStream_->Size() : 0;
        set(CURLOPT_POST, "POST", curl_easy_setopt(easy_, CURLOPT_POST, 1L));
        set(CURLOPT_POSTFIELDSIZE, "POSTFIELDSIZE", curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE, static_cast<long>(size)));
        uploadSize_ = size;
        uploadPosition_ = 0;
    } else if (closedRange_) {
        char range[128];
        snprintf(range, sizeof range, "%llu-%llu", static_cast<unsigned long long>(resumeOffset),
                 static_cast<unsigned long long>(rangeLast_));
        set(CURLOPT_RANGE, "RANGE", curl_easy_setopt(easy_, CURLOPT_RANGE, range));
    } else if (resumeOffset != 0) {
        char range[128];
        snprintf(range, sizeof range, "%llu-", static_cast<unsigned long long>(resumeOffset));
        set(CURLOPT_RANGE, "RANGE", curl_easy_setopt(easy_, CURLOPT_RANGE, range));
    }
    return ok;
}

void CCurlHttp::BeginAnswer()
{
    blockDone_ = false;
    long status = kStatusUnknown;
    int rc = 89;  // "no handle" stands for a failed query
    if (easy_) {
        rc = static_cast<int>(curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status));
        httpStatus_ = static_cast<int>(status);
    }
    if (rc != 0 || httpStatus_ > 399 || httpStatus_ < 100)
        HTTP_LOG_CF(LOG_ERROR, kSource, L"CCurlHttp::OnRecieveHeader HTTP error code:%d httpcode:%d ", rc, httpStatus_);
    // Headers of an interim answer or of a redirect describe that answer only:
    // a length they announce is not the length of what follows.
    CriticalSectionGuard guard(&headerLock_);
    headers_.Reset();
}

void CCurlHttp::DecideRange()
{
    if (!resumeRequested_)
        return;
    if (httpStatus_ == 206) {
        int64_t first = -1;
        bool exact = true;
        {
            CriticalSectionGuard guard(&headerLock_);
            const std::wstring value = headers_.Find(L"Content-Range").string();
            first = RangeStart(value);
            if (closedRange_) {
                ContentRange range;
                exact = ParseContentRange(value, range) && range.last == rangeLast_ && range.total == rangeTotal_;
            }
        }
        if (exact && first >= 0 && static_cast<uint64_t>(first) == rangeFrom_) {
            rangeAnswer_ = kRangeKept;
            return;
        }
        // Bytes from elsewhere in the resource: appended, they would corrupt
        // the file; written from its start, they would leave a hole.
        HTTP_LOG_CF(LOG_ERROR, kSource, L"httpcode==206 range start:%lld asked:%lld", static_cast<long long>(first),
                    static_cast<long long>(rangeFrom_));
        rangeAnswer_ = kRangeRefused;
    } else {
        // The server ignored the byte range and sends the whole body: the
        // partial file must be emptied before the first byte is appended.
        HTTP_LOG_CF(LOG_INFO, kSource, L"httpcode==200 不支持断点续传，清空文件");
        rangeAnswer_ = kRangeIgnored;
    }
    CriticalSectionGuard guard(&streamLock_);
    if (writeStream_ && IsActive())
        writeStream_->Discard();
}

int32_t CCurlHttp::OnRecieveHeader(const char* data, int32_t size)
{
    const std::string line(data, data + std::max<int32_t>(size, 0));
    if (blockDone_) {
        // After a header block only a status line starts another answer (the
        // final one after an interim 1xx, or the next hop of a redirect);
        // anything else is a trailer after a chunked body, no answer of its own.
        if (httpStatus_ != kStatusUnknown && !IsStatusLine(line))
            return size;
        BeginAnswer();
    }
    const bool blank = line == "\r\n" || line == "\n";
    if (blank)
        blockDone_ = true;

    if (httpStatus_ >= 100 && httpStatus_ <= 399) {
        if (blank) {
            if (!IsPassingStatus(httpStatus_))
                DecideRange();
            PostHttpCode(httpStatus_);
        } else {
            const size_t colon = line.find(':');
            if (colon != std::string::npos && colon >= 1) {
                std::wstring name = ToWide(line.substr(0, colon));
                std::wstring value = ToWide(line.substr(colon + 1));
                Trim(name);
                Trim(value);
                CriticalSectionGuard guard(&headerLock_);
                headers_[name] = ProtoValue(value);
            }
        }
    } else {
        PostHttpCode(httpStatus_);
    }
    return size;
}

int32_t CCurlHttp::OnRecieveBody(const char* data, int32_t size)
{
    if (httpStatus_ > 399 || httpStatus_ < 100) {
        std::string text(data, data + std::min<size_t>(static_cast<size_t>(std::max<int32_t>(size, 0)), kErrorBodyLogLimit));
        std::wstring wide = ToWide(text);
        HTTP_LOG_F(LOG_ERROR, kSource, L"CCurlHttp::OnRecieveBody HTTP error  httpcode:%d %s", httpStatus_, wide.c_str());
        return 0;
    }
    if (IsPassingStatus(httpStatus_)) {
        // libcurl hands over a redirect's body only when it does not follow
        // it (no usable Location): the exchange ends here, without the
        // resource that was asked for.
        HTTP_LOG_F(LOG_ERROR, kSource, L"CCurlHttp::OnRecieveBody redirect not followed httpcode:%d", httpStatus_);
        unfollowedRedirect_ = true;
        return 0;
    }
    if (rangeAnswer_ == kRangeRefused)
        return 0;
    CriticalSectionGuard guard(&streamLock_);
    // Checked again under the lock: once the owner has closed the streams no
    // byte may reach them.
    if (!writeStream_ || !IsActive())
        return 0;
    int32_t n = writeStream_->Write(data, static_cast<uint32_t>(size));
    if (n < 0) {
        HTTP_LOG_CF(LOG_ERROR, kSource, L"CCurlHttp::OnRecieveBody  Write file error %d", writeStream_->ErrorCode(),
                    writeStream_->ErrorType());
        return 0;
    }
    return n;
}

int32_t CCurlHttp::OnSendBody(char* buffer, int32_t size)
{
    CriticalSectionGuard guard(&streamLock_);
    if (!readStream_ || uploadSize_ == 0 || uploadPosition_ >= uploadSize_)
        return 0;
    const uint64_t left = uploadSize_ - uploadPosition_;
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(std::max<int32_t>(size, 0)), left));
    int32_t n = readStream_->Read(buffer, want);
    if (n >= 0) {
        uploadPosition_ += static_cast<uint64_t>(n);
        return n;
    }
    HTTP_LOG_CF(LOG_ERROR, kSource, L"CCurlHttp::OnSendBody  Read file error %d", errno);
    return 0;
}
