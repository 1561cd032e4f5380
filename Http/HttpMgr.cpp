#include "Http/HttpMgr.h"

#include <algorithm>
#include <vector>

#include "Http/CurlWorkshop.h"
#include "Http/HttpCommand.h"
#include "Http/HttpLog.h"
#include "Http/ProxyResolver.h"

namespace {

const wchar_t kSource[] = L".\\Http\\HttpMgr";

// Shared by all managers; the first request ever added gets 1.
int32_t g_sequence = 0;

struct Channel {
    CCurlWorkshop* workshop = nullptr;
    CHttpMgr* manager = nullptr;
};

Channel g_command;
Channel g_download;
int32_t g_timerTicks = 0;

bool StartChannel(Channel& channel)
{
    // The proxy settings are read off this thread, before the first request.
    DefaultProxyResolver().Prefetch();
    bool ok = true;
    if (!channel.workshop) {
        channel.workshop = new CCurlWorkshop();
        if (!channel.workshop->Init())
            ok = false;
        if (!channel.workshop->Start()) {
            OV_LOG(LOG_ERROR, kSource, L"HTTP channel worker did not start");
            ok = false;
        }
    }
    if (!channel.manager)
        channel.manager = new CHttpMgr(CHttpMgr::kDefaultMaxRunning);
    return ok;
}

void StopChannel(Channel& channel)
{
    if (channel.workshop) {
        channel.workshop->Stop(INFINITE);
        channel.workshop->Uninit();
        delete channel.workshop;
        channel.workshop = nullptr;
    }
    if (channel.manager) {
        channel.manager->Clear();
        delete channel.manager;
        channel.manager = nullptr;
    }
}

}  // namespace

CHttpMgr::CHttpMgr(uint32_t maxRunning) : maxRunning_(maxRunning) {}

CHttpMgr::~CHttpMgr()
{
    requests_.clear();
}

bool CHttpMgr::Contains(const CHttpBase* request) const
{
    return std::find(requests_.begin(), requests_.end(), request) != requests_.end();
}

CHttpBase* CHttpMgr::FindByTransfer(const CCurlBase* transfer) const
{
    for (CHttpBase* request : requests_)
        if (request->Transfer() == transfer)
            return request;
    return nullptr;
}

void CHttpMgr::OnDone(CCurlBase* transfer, CURLcode code)
{
    if (CHttpBase* request = FindByTransfer(transfer))
        request->Done(code);
}

void CHttpMgr::OnRecvBytes(CCurlBase* transfer, unsigned int bytes)
{
    if (CHttpBase* request = FindByTransfer(transfer))
        request->AddRecvBytes(static_cast<int64_t>(static_cast<int32_t>(bytes)));
}

void CHttpMgr::OnSendBytes(CCurlBase* transfer, unsigned int bytes)
{
    FindByTransfer(transfer);
}

void CHttpMgr::OnHttpCode(CCurlBase* transfer, int status)
{
    if (CHttpBase* request = FindByTransfer(transfer))
        request->OnHttpCode(status);
}

void CHttpMgr::OnRemoved(CCurlBase* transfer, int value)
{
    FindByTransfer(transfer);
}

void CHttpMgr::OnAdded(CCurlBase* transfer, int value)
{
    FindByTransfer(transfer);
}

uint64_t CHttpMgr::Add(CHttpBase* request)
{
    if (Contains(request)) {
        HTTP_LOG_CF(LOG_INFO, kSource, L"http请求重复添加 url:%s", request->Url().c_str());
        return request->Id();
    }
    request->SetAdded(++g_sequence, GetTickCount());
    const uint64_t id = request->Id();
    requests_.push_back(request);
    // Schedule may start the request, and a start can report at once to a
    // callback that deletes it: it is not touched after this.
    if (!request->IsRetryWait())
        Schedule();
    return id;
}

void CHttpMgr::Remove(CHttpBase* request)
{
    const bool wasCounted = request->IsCounted();
    requests_.remove(request);
    request->SetCounted(false);
    if (wasCounted) {
        if (running_ > 0)
            --running_;
        Schedule();
    }
}

void CHttpMgr::Clear()
{
    for (CHttpBase* request : requests_) {
        request->SetManager(nullptr);
        request->SetWorkshop(nullptr);
    }
    requests_.clear();
    running_ = 0;
}

void CHttpMgr::Schedule()
{
    const uint32_t total = static_cast<uint32_t>(requests_.size());
    if (running_ > maxRunning_ || running_ > total) {
        HTTP_LOG_CF(LOG_INFO, kSource, L"CHttpMgr::Schedule() 正在运行的任务数计算出错，重新计算中 running:%d max:%d total:%d",
                    running_, maxRunning_, total);
        running_ = 0;
        for (CHttpBase* request : requests_)
            if (request->IsCounted())
                ++running_;
    }
    HTTP_LOG_CF(LOG_INFO, kSource, L"CHttpMgr::Schedule() 调度任务 running:%d max:%d total:%d", running_, maxRunning_, total);
    if (running_ >= maxRunning_) {
        HTTP_LOG_CF(LOG_INFO, kSource, L"CHttpMgr::Schedule() 任务数超标 running:%d max:%d total:%d", running_, maxRunning_,
                    total);
        return;
    }
    // Start may call a done callback at once (a download whose file is
    // complete or cannot be opened), and that callback may stop, resubmit or
    // delete requests: walk a copy and skip whatever has left the list.
    const std::vector<CHttpBase*> snapshot(requests_.begin(), requests_.end());
    for (CHttpBase* request : snapshot) {
        if (running_ >= maxRunning_)
            break;
        if (!Contains(request))
            continue;
        if (request->IsCounted() || request->IsRunning() || request->IsRetryWait())
            continue;
        if (request->Start() && Contains(request)) {
            request->SetCounted(true);
            ++running_;
        }
    }
}

bool CHttpMgr::ReleaseRetryWaits(DWORD now)
{
    bool released = false;
    for (CHttpBase* request : requests_) {
        if (!request->IsRetryWait())
            continue;
        // Unsigned difference: right across the 49.7-day wrap of the tick
        // count. A start "in the future" (above half the range) is not released.
        const DWORD waited = now - request->RetryWaitSince();
        if (waited > kRetryWaitMs && waited < 0x80000000u) {
            request->SetRetryWait(false);
            released = true;
        }
    }
    if (released)
        Schedule();
    return released;
}

void CHttpMgr::ProgressTick()
{
    // A progress callback may stop or delete requests.
    const std::vector<CHttpBase*> snapshot(requests_.begin(), requests_.end());
    for (CHttpBase* request : snapshot)
        if (Contains(request) && request->IsRunning())
            request->OnProgressTick();
}

// --- channels -------------------------------------------------------------------

bool Submit(CHttpMgr* manager, CHttpBase* request)
{
    if (!manager || !request)
        return false;
    CHttpMgr* previous = request->Manager();
    if (previous && previous != manager && CurlListener::IsLive(previous)) {
        // Its transfer reports to the old manager, which would never route a
        // result here: end that attempt before moving.
        if (request->IsRunning())
            request->Stop();
        else
            previous->Remove(request);
    }
    request->SetManager(manager);
    manager->Add(request);
    return true;
}

namespace {

bool SubmitTo(const Channel& channel, CHttpBase* request)
{
    // A running attempt keeps the worker it runs on.
    if (request && !request->IsRunning() && channel.workshop)
        request->SetWorkshop(channel.workshop);
    return Submit(channel.manager, request);
}

}  // namespace

bool SubmitCommand(CHttpBase* request)
{
    return SubmitTo(g_command, request);
}

bool SubmitDownload(CHttpBase* request)
{
    return SubmitTo(g_download, request);
}

bool StartCommandChannel()
{
    return StartChannel(g_command);
}

bool StartDownloadChannel()
{
    return StartChannel(g_download);
}

void StopCommandChannel()
{
    StopChannel(g_command);
}

void StopDownloadChannel()
{
    StopChannel(g_download);
}

CCurlWorkshop* CommandWorkshop()
{
    return g_command.workshop;
}
CHttpMgr* CommandManager()
{
    return g_command.manager;
}
CCurlWorkshop* DownloadWorkshop()
{
    return g_download.workshop;
}
CHttpMgr* DownloadManager()
{
    return g_download.manager;
}

void CALLBACK HttpTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_timerTicks % 2 == 0 && g_download.manager)
        g_download.manager->ProgressTick();
    const DWORD now = GetTickCount();
    // A callback run by the first manager may stop a channel: look each up anew.
    if (g_download.manager)
        g_download.manager->ReleaseRetryWaits(now);
    if (g_command.manager)
        g_command.manager->ReleaseRetryWaits(now);
    ++g_timerTicks;
}
