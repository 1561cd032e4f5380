#pragma once
// Requests: the long-lived UI-thread objects a caller fills in and submits.
//
// CHttpBase holds what every request has (URL, attempts, retries, the result
// tree, the transfer of the current attempt); each attempt creates a fresh
// transfer object and hands it to the request's workshop. The manager decides
// when an attempt starts and routes the transfer's events back here.
// CHttpCommand collects the response body in memory and hands it to a
// callback. Only curl-level failures are retried.
//
// Threads: UI thread only. Callbacks are called on the UI thread and may stop,
// resubmit or delete the request.
// Ownership: the request holds one reference to its current transfer; the
// manager and the workshop are not owned.

#include <winsock2.h>
#include <windows.h>

#include <curl/curl.h>

#include <cstdint>
#include <string>

#include "Http/CurlHttp.h"
#include "Runtime/ProtoValue.h"
#include "Runtime/RefPtr.h"

class CCurlWorkshop;
class CHttpMgr;

// Error types of an (error type, code) pair; the names key the result tree.
enum ErrType { ERR_OK = 0, ERR_SYS = 1, ERR_CRT = 2, ERR_USER = 3, ERR_HTTP = 4, ERR_CURL = 5 };

// "ok", "sys", "crt", "user", "http", "curl"; "" for anything else.
const wchar_t* ErrTypeName(int type);

// The pair an attempt's result tree reduces to: the first match of sys, user,
// http (a status below 100, above 399, or a final 3xx: a redirect that could
// not be followed), curl; otherwise (0, 0).
void ClassifyResult(const ProtoValue& result, int& code, int& type);

class CHttpBase {
public:
    enum { kMethodGet = 1, kMethodPost = 2 };

    CHttpBase(CCurlWorkshop* workshop, CHttpMgr* manager);
    virtual ~CHttpBase();

    // Sets up the current transfer's easy handle for this request.
    virtual void PrepareHandle();
    // Starts an attempt; false if one is running. Called by the manager.
    virtual bool Start();
    // Ends the request without a callback and takes it out of its manager.
    virtual void Stop();
    virtual void Done(CURLcode code) = 0;
    virtual void OnHttpCode(int status) = 0;
    virtual void OnProgressTick() {}
    virtual void AddRecvBytes(int64_t bytes) {}

    // Lets the current transfer go: no callback of it does work any more, its
    // streams are closed (after a write that may be running), and the
    // reference is dropped.
    void ReleaseTransfer();
    // (code, type) of the result tree.
    void Classify(int& code, int& type) const { ClassifyResult(result_, code, type); }

    // Caller-set fields.
    const std::wstring& Url() const { return url_; }
    void SetUrl(const std::wstring& url) { url_ = url; }
    int Method() const { return method_; }
    void SetMethod(int method) { method_ = method; }
    int MaxRetries() const { return maxRetries_; }
    void SetMaxRetries(int retries) { maxRetries_ = retries; }
    int ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int seconds) { connectTimeout_ = seconds; }

    // State, for the manager and for diagnostics.
    CCurlBase* Transfer() const { return transfer_.get(); }
    CHttpMgr* Manager() const { return manager_; }
    void SetManager(CHttpMgr* manager) { manager_ = manager; }
    CCurlWorkshop* Workshop() const { return workshop_; }
    void SetWorkshop(CCurlWorkshop* workshop) { workshop_ = workshop; }
    bool IsRunning() const { return running_; }
    bool IsCounted() const { return counted_; }
    void SetCounted(bool counted) { counted_ = counted; }
    int Attempts() const { return attempts_; }
    // The next attempt counts as the first (its retries are all there again):
    // for a caller that points a request at another server.
    void ResetAttempts() { attempts_ = 0; }
    uint64_t ResumeOffset() const { return resumeOffset_; }
    bool IsRetryWait() const { return retryWait_; }
    DWORD RetryWaitSince() const { return retryWaitSince_; }
    void SetRetryWait(bool wait) { retryWait_ = wait; }
    int32_t Sequence() const { return sequence_; }
    DWORD AddedAt() const { return addedAt_; }
    void SetAdded(int32_t sequence, DWORD tick)
    {
        sequence_ = sequence;
        addedAt_ = tick;
    }
    uint64_t Id() const { return (static_cast<uint64_t>(addedAt_) << 32) | static_cast<uint32_t>(sequence_); }
    const ProtoValue& Result() const { return result_; }

protected:
    // The current transfer as the HTTP transfer every request creates.
    CCurlHttp* Http() const { return static_cast<CCurlHttp*>(transfer_.get()); }
    void BeginRetryWait()
    {
        retryWait_ = true;
        retryWaitSince_ = GetTickCount();
    }
    // At OnDone, before the transfer is let go: a redirect that libcurl did
    // not follow is the final answer, and goes into the result as a failure.
    void NoteUnfollowedRedirect(CURLcode code);
    // Likewise: a proxy that wants credentials decides the outcome as
    // HTTP_ERR_PROXY_AUTH, whatever status or transfer error came with it.
    void NoteProxyAuth();

    CRefPtr<CCurlBase> transfer_;
    CHttpMgr* manager_;
    CCurlWorkshop* workshop_;
    bool running_ = false;
    std::wstring url_;
    int32_t sequence_ = 0;
    DWORD addedAt_ = 0;
    int method_ = kMethodGet;
    uint64_t resumeOffset_ = 0;
    int attempts_ = 0;
    bool counted_ = false;
    ProtoValue result_;
    int maxRetries_ = 2;
    int connectTimeout_ = 5;
    bool retryWait_ = false;
    DWORD retryWaitSince_ = 0;

private:
    CHttpBase(const CHttpBase&) = delete;
    CHttpBase& operator=(const CHttpBase&) = delete;
};

// Error codes of commands.
enum CommandError {
    // user: the answer's body grew past the request's limit (SetMaxBodySize)
    COMMAND_ERR_BODY_TOO_LARGE = 3005,
};

// Error codes of every request.
enum RequestError {
    // user: the proxy asks for credentials (407) and the user's own Windows
    // sign-on did not satisfy it. Not retried: only new settings help.
    HTTP_ERR_PROXY_AUTH = 3040,
};

// (user data, response body, error type, code); the result is ignored.
typedef int (*CommandDoneCallback)(uintptr_t userData, std::string& body, int errType, int code);

class CHttpCommand : public CHttpBase {
public:
    // Bound to the command channel as it is now.
    CHttpCommand();
    CHttpCommand(CCurlWorkshop* workshop, CHttpMgr* manager);
    ~CHttpCommand() override;

    bool Start() override;
    void Done(CURLcode code) override;
    void OnHttpCode(int status) override;

    void SetCallback(CommandDoneCallback callback, uintptr_t userData)
    {
        callback_ = callback;
        userData_ = userData;
    }
    // Bodies longer than `bytes` fail the transfer with (3, 3005) as soon as
    // they do, and nothing past the limit is kept; 0 (the default) means no
    // limit. Takes effect at the next Start.
    void SetMaxBodySize(uint32_t bytes) { maxBody_ = bytes; }
    uint32_t MaxBodySize() const { return maxBody_; }
    // The request, its retries and their waits included, may take at most
    // `ms` from the start of its first attempt: each attempt gets what is left
    // as its time limit, and no retry starts with less than two seconds left.
    // The callback then gets the last attempt's failure, curl 28 when it ran
    // out of time. 0 (the default) means no limit. A new request (one not
    // resubmitted by its own retry) starts a new span.
    void SetDeadline(DWORD ms) { deadlineMs_ = ms; }
    void Stop() override;
    const std::string& PostData() const { return postData_; }
    void SetPostData(const std::string& data) { postData_ = data; }

private:
    std::string postData_;
    uint32_t maxBody_ = 0;
    DWORD deadlineMs_ = 0;
    DWORD deadlineStart_ = 0;
    // The next Start is this request's own retry, inside its current span.
    bool retrying_ = false;
    CommandDoneCallback callback_ = nullptr;
    uintptr_t userData_ = 0;
};
