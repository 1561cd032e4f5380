#pragma once
// The worker of one HTTP channel: one libcurl multi handle driven by one thread.
//
// The UI thread hands transfers in (AddTransfer) and asks for them back
// (RemoveTransfer); both only record the wish under the lock and wake the
// worker, which applies it at the start of its next cycle, adds the transfers
// to the multi handle, performs them and posts OnAdded / OnRemoved / OnDone
// events back.
//
// Between cycles the worker sleeps in libcurl's own wait (curl_multi_poll):
// until a socket is ready, libcurl's next timer is due (connect and stall
// time-outs, name look-ups), the UI thread wakes it (AddTransfer,
// RemoveTransfer, Stop), or at the latest after the idle limit. An idle
// channel therefore costs about one wake-up per idle limit, and a transfer
// waiting for the network costs no cycles at all.
//
// Routes: before a transfer is added, the proxy resolver gives it its route
// (at once when the answer is known; otherwise the transfer waits in the
// queue and the resolver wakes the worker once it is). A transfer whose proxy
// could not be reached is added again on its route's next hop instead of
// ending; the request sees only the last hop's outcome.
//
// Threads: everything except Run is called on the UI thread. The multi handle
// is touched only by the worker, except in Init and Uninit, which run while
// the worker is stopped. The worker posts events while holding the lock, so
// the lock order is workshop lock, then dispatcher lock.
// Ownership: each list entry holds one reference to its transfer.

#include <winsock2.h>
#include <windows.h>

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>

#include "Http/CurlHttp.h"
#include "Http/ProxyResolver.h"
#include "Runtime/RefPtr.h"
#include "Runtime/SimpleThread.h"

class CCurlWorkshop : public CSimpleThread {
public:
    // The longest sleep without being woken: a safety net should a wake-up
    // ever be lost, not a polling period.
    static const int kDefaultIdleLimitMs = 1000;

    // `resolver` null: the process-wide one, of the system's settings.
    explicit CCurlWorkshop(int idleLimitMs = kDefaultIdleLimitMs, ProxyResolver* resolver = nullptr);
    // Stops the worker if the owner has not, then frees what is left.
    ~CCurlWorkshop() override;

    // Creates the multi handle; a second call does nothing. True when a multi
    // handle exists afterwards.
    bool Init();
    // False without a multi handle. Queues the transfer for adding and cancels
    // a withdraw of it that has not been applied yet.
    bool AddTransfer(const CRefPtr<CCurlBase>& transfer);
    // False without a multi handle. Queues the transfer for withdrawal.
    bool RemoveTransfer(const CRefPtr<CCurlBase>& transfer);
    // With the worker stopped: detaches and cleans up every running transfer,
    // frees the multi handle and empties the lists. Posts nothing.
    void Uninit();
    // Asks the worker to stop and wakes it, then waits as CSimpleThread does.
    void Stop(unsigned timeoutMs) override;

    // Diagnostics (any thread).
    bool HasMultiHandle();
    size_t PendingCount();
    size_t RunningCount();
    size_t WithdrawnCount();
    // How often the worker has gone to sleep in libcurl's wait since it was
    // constructed (the benchmark's wake-up figure).
    uint64_t WaitCount() const { return waits_.load(std::memory_order_relaxed); }

protected:
    void Run() override;

private:
    typedef std::list<CRefPtr<CCurlBase> > TransferList;

    void Perform();
    void WaitForWork();
    // Caller holds the lock (so the multi handle cannot go meanwhile).
    void WakeWorker();
    void SyncQueues();
    bool DetachTransfer(const CRefPtr<CCurlBase>& transfer);
    // Caller holds the lock: the finished handle again, for its next hop.
    bool Readd(CURL* easy);
    int CollectDone();

    // Reads something the worker shares, under the workshop's lock.
    template <typename Read>
    auto UnderLock(Read read) -> decltype(read());

    CURLM* multi_ = nullptr;
    ProxyResolver& resolver_;
    CRefPtr<RouteWaker> waker_;
    TransferList pending_;
    TransferList running_;
    TransferList withdrawn_;
    CRITICAL_SECTION lock_;
    const int idleLimitMs_;
    std::atomic<uint64_t> waits_{0};
};
