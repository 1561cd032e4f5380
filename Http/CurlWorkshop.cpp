#include "Http/CurlWorkshop.h"

#include <algorithm>

#include "Http/CurlGlobal.h"
#include "Http/HttpLog.h"
#include "Runtime/CriticalSectionGuard.h"

namespace {

const wchar_t kSource[] = L".\\Http\\CurlWorkshop";
const DWORD kFailedWaitPauseMs = 10;

}  // namespace

CCurlWorkshop::CCurlWorkshop(int idleLimitMs, ProxyResolver* resolver)
    : resolver_(resolver ? *resolver : DefaultProxyResolver()),
      idleLimitMs_(idleLimitMs > 0 ? idleLimitMs : kDefaultIdleLimitMs)
{
    InitializeCriticalSection(&lock_);
}

CCurlWorkshop::~CCurlWorkshop()
{
    // Run uses this object: it must have ended before the members go.
    Stop(INFINITE);
    Uninit();
    DeleteCriticalSection(&lock_);
}

bool CCurlWorkshop::Init()
{
    // libcurl wants its global set-up before any other call.
    EnsureCurlGlobalInit();
    const CriticalSectionGuard guard(&lock_);
    if (!multi_) {
        multi_ = curl_multi_init();
        if (multi_)
            waker_ = new RouteWaker(multi_);
        if (multi_)
            HTTP_LOG_F(LOG_INFO, kSource, L"CCurlWorkshop::Init() %x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(multi_)));
        else
            OV_LOG(LOG_ERROR, kSource, L"curl_multi_init failed");
    }
    return multi_ != nullptr;
}

bool CCurlWorkshop::AddTransfer(const CRefPtr<CCurlBase>& transfer)
{
    const CriticalSectionGuard guard(&lock_);
    if (!multi_)
        return false;
    pending_.push_back(transfer);
    TransferList::iterator it = std::find(withdrawn_.begin(), withdrawn_.end(), transfer);
    if (it != withdrawn_.end())
        withdrawn_.erase(it);
    WakeWorker();
    return true;
}

bool CCurlWorkshop::RemoveTransfer(const CRefPtr<CCurlBase>& transfer)
{
    const CriticalSectionGuard guard(&lock_);
    if (!multi_)
        return false;
    withdrawn_.push_back(transfer);
    WakeWorker();
    return true;
}

void CCurlWorkshop::Stop(unsigned timeoutMs)
{
    // Set before the wake-up, so the woken worker finds it.
    stopRequested_ = true;
    {
        const CriticalSectionGuard guard(&lock_);
        WakeWorker();
    }
    CSimpleThread::Stop(timeoutMs);
}

void CCurlWorkshop::WakeWorker()
{
    // Without a multi handle there is no worker cycle to hurry. A wake-up
    // given while the worker is busy is kept by libcurl for its next wait.
    if (!multi_)
        return;
    CURLMcode rc = curl_multi_wakeup(multi_);
    if (rc != CURLM_OK)
        OV_LOG(LOG_ERROR, kSource, L"curl_multi_wakeup failed:%d", static_cast<int>(rc));
}

void CCurlWorkshop::Uninit()
{
    const CriticalSectionGuard guard(&lock_);
    if (multi_) {
        for (TransferList::iterator it = running_.begin(); it != running_.end(); ++it) {
            CURL* easy = (*it)->EasyHandle();
            if (!easy)
                continue;
            CURLMcode rc = curl_multi_remove_handle(multi_, easy);
            if (rc != CURLM_OK)
                OV_LOG(LOG_ERROR, kSource, L"curl_multi_remove_handle failed:%d", static_cast<int>(rc));
            curl_easy_cleanup(easy);
            (*it)->SetEasyHandle(nullptr);
        }
        // The resolver may still hold the waker: it must not reach a freed handle.
        if (waker_)
            waker_->Detach();
        waker_.Reset();
        CURLMcode rc = curl_multi_cleanup(multi_);
        if (rc != CURLM_OK)
            OV_LOG(LOG_ERROR, kSource, L"curl_multi_cleanup failed:%d", static_cast<int>(rc));
        multi_ = nullptr;
    }
    withdrawn_.clear();
    pending_.clear();
    running_.clear();
}

template <typename Read>
auto CCurlWorkshop::UnderLock(Read read) -> decltype(read())
{
    const CriticalSectionGuard guard(&lock_);
    return read();
}

bool CCurlWorkshop::HasMultiHandle()
{
    return UnderLock([this] { return multi_ != nullptr; });
}

size_t CCurlWorkshop::PendingCount()
{
    return UnderLock([this] { return pending_.size(); });
}

size_t CCurlWorkshop::RunningCount()
{
    return UnderLock([this] { return running_.size(); });
}

size_t CCurlWorkshop::WithdrawnCount()
{
    return UnderLock([this] { return withdrawn_.size(); });
}

void CCurlWorkshop::Run()
{
    while (!stopRequested_) {
        Perform();
        CollectDone();
        if (stopRequested_)
            break;
        WaitForWork();
    }
}

void CCurlWorkshop::Perform()
{
    if (stopRequested_)
        return;
    SyncQueues();
    CURLM* multi = multi_;  // only Init/Uninit change it, never while the worker runs
    if (!multi)
        return;
    int stillRunning = 0;
    CURLMcode rc;
    do {
        rc = curl_multi_perform(multi, &stillRunning);
    } while (rc == CURLM_CALL_MULTI_PERFORM);
    if (rc != CURLM_OK)
        OV_LOG(LOG_ERROR, kSource, L"curl_multi_perform failed:%d", static_cast<int>(rc));
}

void CCurlWorkshop::WaitForWork()
{
    CURLM* multi = multi_;
    if (!multi)
        return;
    waits_.fetch_add(1, std::memory_order_relaxed);
    // libcurl shortens the wait to its own next timer, waits on the sockets of
    // every transfer, and sleeps (rather than returning at once) when a
    // transfer has no socket yet, as during a name look-up.
    int ready = 0;
    CURLMcode rc = curl_multi_poll(multi, nullptr, 0, idleLimitMs_, &ready);
    if (rc != CURLM_OK) {
        OV_LOG(LOG_ERROR, kSource, L"curl_multi_poll failed:%d", static_cast<int>(rc));
        // A wait that keeps failing must not turn into a spin; transfers
        // still move on, one perform per pause.
        Sleep(kFailedWaitPauseMs);
    }
}

void CCurlWorkshop::SyncQueues()
{
    const CriticalSectionGuard guard(&lock_);
    for (TransferList::iterator it = pending_.begin(); it != pending_.end(); ++it)
        if (!(*it)->IsActive())
            withdrawn_.push_back(*it);
    for (TransferList::iterator it = running_.begin(); it != running_.end(); ++it)
        if (!(*it)->IsActive())
            withdrawn_.push_back(*it);

    for (size_t n = withdrawn_.size(); n > 0 && !withdrawn_.empty(); --n) {
        CRefPtr<CCurlBase> transfer = withdrawn_.front();
        DetachTransfer(transfer);
        transfer->PostRemoved();
        withdrawn_.pop_front();
    }

    for (size_t n = pending_.size(); n > 0 && !pending_.empty(); --n) {
        CRefPtr<CCurlBase> transfer = pending_.front();
        CURL* easy = transfer->EasyHandle();
        if (easy && multi_ && !transfer->Routed()) {
            ProxyRoute route;
            if (!resolver_.Route(transfer->Url(), route, waker_)) {
                // Not known yet: it waits at the back; the resolver wakes us.
                pending_.pop_front();
                pending_.push_back(transfer);
                continue;
            }
            transfer->SetRoute(route);
        }
        if (easy && multi_) {
            CURLMcode rc = curl_multi_add_handle(multi_, easy);
            if (rc == CURLM_OK) {
                transfer->PostAdded();
                running_.push_back(transfer);
            } else {
                OV_LOG(LOG_ERROR, kSource, L"curl_multi_add_handle failed:%d", static_cast<int>(rc));
            }
        }
        pending_.pop_front();
    }
}

bool CCurlWorkshop::DetachTransfer(const CRefPtr<CCurlBase>& transfer)
{
    CURL* easy = transfer->EasyHandle();
    if (!easy)
        return false;
    TransferList::iterator it = std::find(running_.begin(), running_.end(), transfer);
    if (it != running_.end()) {
        CURLMcode rc = curl_multi_remove_handle(multi_, easy);
        if (rc != CURLM_OK)
            OV_LOG(LOG_ERROR, kSource, L"curl_multi_remove_handle failed:%d", static_cast<int>(rc));
        curl_easy_cleanup(easy);
        transfer->SetEasyHandle(nullptr);
        running_.erase(it);
    } else {
        it = std::find(pending_.begin(), pending_.end(), transfer);
        if (it != pending_.end())
            pending_.erase(it);
    }
    return true;
}

bool CCurlWorkshop::Readd(CURL* easy)
{
    CURLMcode rc = curl_multi_remove_handle(multi_, easy);
    if (rc == CURLM_OK)
        rc = curl_multi_add_handle(multi_, easy);
    if (rc != CURLM_OK) {
        OV_LOG(LOG_ERROR, kSource, L"adding a transfer again failed:%d", static_cast<int>(rc));
        return false;
    }
    return true;
}

int CCurlWorkshop::CollectDone()
{
    int handled = 0;
    CURLM* multi = multi_;
    if (!multi)
        return 0;
    while (!stopRequested_) {
        int left = 0;
        CURLMsg* msg = curl_multi_info_read(multi, &left);
        if (!msg)
            break;
        if (msg->msg != CURLMSG_DONE)
            continue;
        // The message dies with the handle's removal: copy what is needed.
        CURL* easy = msg->easy_handle;
        CURLcode result = msg->data.result;
        const CriticalSectionGuard guard(&lock_);
        ++handled;
        for (TransferList::iterator it = running_.begin(); it != running_.end(); ++it) {
            if ((*it)->EasyHandle() == easy) {
                CRefPtr<CCurlBase> transfer = *it;
                if (transfer->IsActive() && transfer->TakeNextHop(result, resolver_) && Readd(easy))
                    break;
                transfer->PostDone(result);
                DetachTransfer(transfer);
                break;
            }
        }
    }
    return handled;
}
