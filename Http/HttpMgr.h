#pragma once
// The request manager and the two HTTP channels.
//
// CHttpMgr queues requests in the order they were added, counts at most
// `max running` of them as running, and, as the CurlListener of every transfer
// its requests create, routes the transfer events to the request that owns the
// transfer (events of an earlier attempt find no request and are dropped).
//
// A channel is one CCurlWorkshop (worker thread) plus one CHttpMgr: the
// command channel carries CHttpCommand requests, the download channel
// CHttpDownloadFile requests. HttpTimerProc, run every 500 ms on the UI
// thread, drives the download progress ticks and releases requests that wait
// before a retry.
//
// Threads: everything here runs on the UI thread; the listener operations
// arrive as posted tasks. The channels are process-wide.
// Ownership: the manager does not own its requests; a request takes itself
// out (Stop) before it goes. Stopping a channel deletes its workshop and
// manager and unbinds the requests that were queued.

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <list>

#include "Http/CurlHttp.h"

class CHttpBase;
class CCurlWorkshop;

class CHttpMgr : public CurlListener {
public:
    enum { kDefaultMaxRunning = 10 };
    // Waits shorter than this are not released.
    static const DWORD kRetryWaitMs = 500;

    explicit CHttpMgr(uint32_t maxRunning = kDefaultMaxRunning);

    void OnDone(CCurlBase* transfer, CURLcode code) override;
    void OnRecvBytes(CCurlBase* transfer, unsigned int bytes) override;
    void OnSendBytes(CCurlBase* transfer, unsigned int bytes) override;
    void OnHttpCode(CCurlBase* transfer, int status) override;
    void OnRemoved(CCurlBase* transfer, int value) override;
    void OnAdded(CCurlBase* transfer, int value) override;

    // Queues the request (or, if it is queued already, logs that and returns
    // its id) and schedules unless the request waits before a retry.
    virtual uint64_t Add(CHttpBase* request);
    // Takes every entry of the request out; a counted request frees its slot
    // and the next one is scheduled.
    virtual void Remove(CHttpBase* request);
    // Empties the list; the requests are not touched.
    virtual ~CHttpMgr();

    // Starts queued requests, oldest first, until `max running` are counted.
    void Schedule();
    // Unbinds every request (no manager, no workshop) and empties the list.
    void Clear();
    // The first request whose current transfer is `transfer`, or null.
    CHttpBase* FindByTransfer(const CCurlBase* transfer) const;
    // Ends the retry wait of every request whose wait began more than
    // kRetryWaitMs before `now` (wrap-safe), then schedules if any was released.
    bool ReleaseRetryWaits(DWORD now);
    // A progress tick for every running request.
    void ProgressTick();

    bool Contains(const CHttpBase* request) const;
    const std::list<CHttpBase*>& Requests() const { return requests_; }
    uint32_t Running() const { return running_; }
    uint32_t MaxRunning() const { return maxRunning_; }

private:
    std::list<CHttpBase*> requests_;
    uint32_t maxRunning_;
    uint32_t running_ = 0;
};

// Queues `request` in `manager`; false when the manager is null. A request
// still bound to another manager is moved: a running attempt there is stopped
// (without a callback) before it is queued here.
bool Submit(CHttpMgr* manager, CHttpBase* request);
// Queue on a channel; a request that is not running is bound to the channel's
// worker here, so it may have been made before the channel was up. False
// when the channel is not up.
bool SubmitCommand(CHttpBase* request);
bool SubmitDownload(CHttpBase* request);

// What brings both channels up for a user that needs them (the
// application's, with its pump timer; a test's own).
class IHttpChannels {
public:
    // Brings both channels up unless they are. True when both are up.
    virtual bool StartHttp() = 0;

protected:
    ~IHttpChannels() = default;
};

// Create (once) and start a channel's workshop and manager. True when the
// channel is up.
bool StartCommandChannel();
bool StartDownloadChannel();
// Stop and join the worker, free the multi handle, then unbind the queued
// requests and delete the manager. The caller discards the queued main-thread
// tasks first (they may point at transfers of this channel).
void StopCommandChannel();
void StopDownloadChannel();

CCurlWorkshop* CommandWorkshop();
CHttpMgr* CommandManager();
CCurlWorkshop* DownloadWorkshop();
CHttpMgr* DownloadManager();

// The 500 ms thread-timer callback (the arguments are not used), so it can be
// passed to SetTimer directly.
void CALLBACK HttpTimerProc(HWND hwnd, UINT message, UINT_PTR id, DWORD time);
