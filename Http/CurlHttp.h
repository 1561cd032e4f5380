#pragma once
// One HTTP exchange over one libcurl easy handle.
//
// A transfer object lives on two threads: libcurl calls its header, body and
// upload callbacks on the workshop's worker thread, while everything the rest
// of the program learns about the exchange reaches the UI thread as posted
// events (OnHttpCode, OnRecvBytes, OnDone, ...) addressed to its CurlListener.
// It is reference counted so that the owning request, the workshop's lists and
// every queued event can each hold it; a request makes a new one per attempt.
//
// Threads: construction, Prepare, SetActive(false) and CloseStreams on the UI
// thread; the On* callbacks on the worker thread only. The header tree is
// copied out under its lock; the write stream and the other results are read
// on the UI thread only after OnHttpCode or OnDone.
// Ownership: the object owns its easy handle and its two streams.

#include <winsock2.h>
#include <windows.h>

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "Http/ProxyDecision.h"
#include "Runtime/BaseStream.h"
#include "Runtime/ProtoValue.h"
#include "Runtime/RefPtr.h"

class CCurlBase;
class ProxyResolver;

// Receives the events of transfer objects on the UI thread. The transfer is
// the key; the event holds a reference to it for the duration of the call.
//
// A listener registers itself while it exists, and an event whose listener has
// been destroyed in the meantime is dropped instead of calling into freed
// memory (a channel shut down with events still queued).
class CurlListener {
public:
    virtual void OnDone(CCurlBase* transfer, CURLcode code) = 0;
    virtual void OnRecvBytes(CCurlBase* transfer, unsigned int bytes) = 0;
    virtual void OnSendBytes(CCurlBase* transfer, unsigned int bytes) = 0;
    virtual void OnHttpCode(CCurlBase* transfer, int status) = 0;
    virtual void OnRemoved(CCurlBase* transfer, int value) = 0;
    virtual void OnAdded(CCurlBase* transfer, int value) = 0;

    // UI thread: is `listener` a listener that has not been destroyed?
    static bool IsLive(const CurlListener* listener);

protected:
    CurlListener();
    ~CurlListener();

private:
    CurlListener(const CurlListener&) = delete;
    CurlListener& operator=(const CurlListener&) = delete;
};

class CCurlBase : public CRefThreadSafeBase<CCurlBase> {
public:
    explicit CCurlBase(CurlListener* listener);
    ~CCurlBase() override;

    // Worker thread, called only by the libcurl callbacks below. Each returns
    // the bytes consumed or supplied.
    virtual int32_t OnRecieveHeader(const char* data, int32_t size) = 0;
    virtual int32_t OnRecieveBody(const char* data, int32_t size) = 0;
    virtual int32_t OnSendBody(char* buffer, int32_t size) = 0;
    // UI thread, when the owning request lets the transfer go.
    virtual void CloseStreams() = 0;

    CURL* EasyHandle() const { return easy_; }
    // The workshop clears it after cleaning the handle up.
    void SetEasyHandle(CURL* easy) { easy_ = easy; }
    CurlListener* Listener() const { return listener_; }

    bool IsActive() const { return active_.load(); }
    void SetActive(bool active) { active_.store(active); }
    bool ProgressEvents() const { return progressEvents_; }
    void SetProgressEvents(bool on) { progressEvents_ = on; }

    // libcurl's receive buffer: each worker cycle reads at most this much,
    // and under Wine every cycle costs system round trips, so on a fast line
    // the cycles, not the network, set the pace. curl's own tool uses
    // kReceiveBufferBytes; the connection that carries a package's bulk
    // reads kBulkReceiveBufferBytes per cycle (about twice the throughput on
    // loopback). Most of the buffer is touched, so only that one connection
    // gets it: the extra parts of a slow line carry little per cycle.
    static const long kReceiveBufferBytes = 100 * 1024;
    static const long kBulkReceiveBufferBytes = 512 * 1024;
    // Before the transfer is started.
    void SetReceiveBufferBytes(long bytes) { receiveBufferBytes_ = bytes; }

    // Any thread: queue an event for the listener on the UI thread. A transfer
    // that the request check ended reports why (a refused certificate as
    // CURLE_PEER_FAILED_VERIFICATION, a refused protocol as
    // CURLE_UNSUPPORTED_PROTOCOL), as libcurl's own checks would.
    void PostDone(CURLcode code);
    void PostRecvBytes(unsigned int bytes);
    void PostSendBytes(unsigned int bytes);
    void PostHttpCode(int status);
    void PostRemoved();
    void PostAdded();

    // The functions registered with libcurl; user data is the transfer object.
    static size_t HeaderCallback(char* data, size_t size, size_t count, void* user);
    static size_t BodyCallback(char* data, size_t size, size_t count, void* user);
    static size_t ReadCallback(char* buffer, size_t size, size_t count, void* user);
    // Before each request on a connection (after any TLS handshake): refuses
    // an untrusted server certificate, and a step from HTTPS back to plain
    // HTTP anywhere in a redirect chain.
    static int PrereqCallback(void* user, char* primaryIp, char* localIp, int primaryPort, int localPort);

    // Transfer objects alive in the process (for leak checks).
    static long LiveCount();

    // The way to the server. The address is set when the transfer is
    // prepared (UI thread); the worker then routes it before adding it to
    // its multi handle (Routed, SetRoute) and, when it ends, lets it take the
    // route's next hop if the proxy could not be reached (TakeNextHop: true
    // when the transfer was set up again and should be added again).
    const std::string& Url() const { return url_; }
    bool Routed() const { return routed_; }
    void SetRoute(const ProxyRoute& route);
    bool TakeNextHop(CURLcode result, ProxyResolver& resolver);
    // UI thread, after OnDone: the exchange ended with the proxy asking for
    // credentials that the user's own sign-on did not satisfy.
    bool ProxyAuthRequired() const { return proxyAuthRequired_; }

protected:
    CURL* easy_ = nullptr;
    std::string url_;
    bool routed_ = false;
    // Reset when the transfer is prepared; then the worker's (request check).
    bool secureSeen_ = false;
    CURLcode refusedWith_ = CURLE_OK;
    long receiveBufferBytes_ = kReceiveBufferBytes;

private:
    CurlListener* listener_;
    ProxyRoute route_;
    size_t hop_ = 0;
    bool proxyAuthRequired_ = false;
    std::atomic<bool> active_{true};
    bool progressEvents_ = false;
    uint64_t recvSinceEvent_ = 0;
    DWORD lastEventTick_ = 0;
};

// An interim (1xx) answer or a redirect: another answer follows it, and only
// that one may decide the outcome of the exchange.
inline bool IsPassingStatus(int status)
{
    return (status >= 100 && status <= 199) || (status >= 300 && status <= 399);
}

class CCurlHttp : public CCurlBase {
public:
    // Status value meaning "no response seen yet".
    enum { kStatusUnknown = 700 };
    enum { kMethodGet = 1, kMethodPost = 2 };
    // What the final answer made of a ranged request, decided on the worker
    // before the first body byte.
    enum RangeAnswer {
        kRangeNotAsked,  // no resume requested, or no final answer yet
        kRangeKept,      // a 206 for our range: the body continues the file
        kRangeIgnored,   // the whole resource came instead: the file was emptied
        kRangeRefused,   // a 206 for another range: emptied, and no byte written
    };

    explicit CCurlHttp(CurlListener* listener);
    ~CCurlHttp() override;

    int32_t OnRecieveHeader(const char* data, int32_t size) override;
    int32_t OnRecieveBody(const char* data, int32_t size) override;
    int32_t OnSendBody(char* buffer, int32_t size) override;
    // Waits for a body write that is running on the worker thread, so that a
    // file is never closed under a write.
    void CloseStreams() override;

    // UI thread, before the transfer is handed to a workshop: creates or resets
    // the easy handle and sets every option of one exchange. False when
    // libcurl refused something (logged); the handle may then be missing.
    bool Prepare(const std::wstring& url, int method, uint64_t resumeOffset, int connectTimeoutSeconds);
    // UI thread, before Prepare: the whole exchange may take at most `ms`
    // milliseconds, then it ends with curl 28 (0, the default: no limit).
    void SetTimeLimitMs(long ms) { timeLimitMs_ = ms; }

    // The headers of the latest answer (a new answer's status line clears
    // them), copied under the lock that the worker takes to add them.
    ProtoValue Headers() const;
    int HttpStatus() const { return httpStatus_; }
    bool ResumeRequested() const { return resumeRequested_; }
    void SetResumeRequested(bool on) { resumeRequested_ = on; }
    // UI thread, before Prepare: ask for the closed range from the resume
    // offset to `last` (inclusive), of a resource of `total` bytes, even from
    // offset 0. Only a 206 naming exactly that range, of that total, is kept;
    // any other answer is refused (its bytes never reach the stream) or, a
    // 200, ignored (the stream's Discard decides what that means).
    void SetClosedRange(uint64_t last, uint64_t total)
    {
        closedRange_ = true;
        rangeLast_ = last;
        rangeTotal_ = total;
    }
    // UI thread, once OnHttpCode of a final 2xx answer arrived.
    RangeAnswer RangeOutcome() const { return rangeAnswer_.load(); }
    // UI thread, after OnDone: the exchange ended on a redirect that libcurl
    // did not follow (no usable Location), so that answer is the final one.
    bool EndedOnRedirect(CURLcode code) const
    {
        return httpStatus_ >= 300 && httpStatus_ <= 399 && (code == CURLE_OK || unfollowedRedirect_);
    }
    uint64_t UploadSize() const { return uploadSize_; }
    uint64_t UploadPosition() const { return uploadPosition_; }

    // Both take ownership; a stream already set is closed and deleted first.
    void SetWriteStream(OBaseStream* stream);
    void SetReadStream(IBaseStream* stream);
    OBaseStream* WriteStream() const { return writeStream_; }
    IBaseStream* ReadStream() const { return readStream_; }

private:
    // Worker: a status line starts an answer; its status is read from libcurl
    // and the previous answer's headers are dropped.
    void BeginAnswer();
    // Worker, at the end of a final 2xx answer's headers: keeps, empties or
    // refuses the partial file of a ranged request.
    void DecideRange();

    ProtoValue headers_;
    int httpStatus_ = kStatusUnknown;
    // The previous header block has ended (or none has begun): the next line
    // is a new answer's status line, or a trailer after a chunked body.
    bool blockDone_ = true;
    uint64_t rangeFrom_ = 0;
    std::atomic<RangeAnswer> rangeAnswer_{kRangeNotAsked};
    bool unfollowedRedirect_ = false;
    uint64_t uploadSize_ = 0;
    uint64_t uploadPosition_ = 0;
    bool resumeRequested_ = false;
    bool closedRange_ = false;
    uint64_t rangeLast_ = 0;
    uint64_t rangeTotal_ = 0;
    long timeLimitMs_ = 0;
    OBaseStream* writeStream_ = nullptr;
    IBaseStream* readStream_ = nullptr;
    // Held by the worker around every stream call and by the UI thread around
    // closing: the active flag stops new callbacks, this stops a running one
    // from racing the close.
    CRITICAL_SECTION streamLock_;
    // Guards the header tree: the worker clears and fills it while the UI
    // thread may be copying it out (the event of an interim answer or a
    // redirect is handled while the next answer's headers arrive).
    mutable CRITICAL_SECTION headerLock_;
};
