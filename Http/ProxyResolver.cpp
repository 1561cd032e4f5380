#include "Http/ProxyResolver.h"

#include <algorithm>

#include "Http/HttpLog.h"
#include "Runtime/CriticalSectionGuard.h"
#include "Runtime/TextUtil.h"

namespace {

const wchar_t kSource[] = L".\\Http\\ProxyResolver";
// Any address will do to learn whether automatic detection finds a script.
const wchar_t kDetectProbeUrl[] = L"http://detect.invalid/";

std::wstring Describe(const ProxyRoute& route)
{
    std::wstring text;
    for (const ProxyHop& hop : route) {
        if (!text.empty())
            text += L"; ";
        text += hop.kind == ProxyHop::kDirect ? std::wstring(L"DIRECT") : ToWide(hop.CurlProxy());
    }
    return text;
}

}  // namespace

// --- RouteWaker ---------------------------------------------------------------------

RouteWaker::RouteWaker(CURLM* multi) : multi_(multi)
{
    InitializeCriticalSection(&lock_);
}

RouteWaker::~RouteWaker()
{
    DeleteCriticalSection(&lock_);
}

void RouteWaker::Wake()
{
    CriticalSectionGuard guard(&lock_);
    if (multi_) {
        const CURLMcode rc = curl_multi_wakeup(multi_);
        if (rc != CURLM_OK)
            OV_LOG(LOG_ERROR, kSource, L"curl_multi_wakeup failed:%d", static_cast<int>(rc));
    }
}

void RouteWaker::Detach()
{
    CriticalSectionGuard guard(&lock_);
    multi_ = nullptr;
}

// --- ProxyResolver ------------------------------------------------------------------

ProxyResolver::ProxyResolver(IProxyPlatform& platform)
    : platform_(platform), signal_(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
    InitializeCriticalSection(&lock_);
}

ProxyResolver::~ProxyResolver()
{
    Stop(INFINITE);
    if (signal_)
        CloseHandle(signal_);
    DeleteCriticalSection(&lock_);
}

void ProxyResolver::Stop(unsigned timeoutMs)
{
    stopRequested_ = true;
    if (signal_)
        SetEvent(signal_);
    CSimpleThread::Stop(timeoutMs);
}

void ProxyResolver::StartThread()
{
    if (!IsRunning() && !CSimpleThread::Start())
        OV_LOG(LOG_ERROR, kSource, L"proxy resolver thread did not start");
    if (signal_)
        SetEvent(signal_);
}

void ProxyResolver::Prefetch()
{
    CriticalSectionGuard guard(&lock_);
    if (!configKnown_)
        StartThread();
}

bool ProxyResolver::Known(const std::string& url, ProxyRoute& route) const
{
    if (!configKnown_)
        return false;
    const bool detect = config_.autoDetect && !autoDetectFailed_;
    const bool script = !config_.scriptUrl.empty() && !scriptFailed_;
    if (!detect && !script) {
        route = OrderRoute(DecideRoute(config_, url, LookupOutcome(), LookupOutcome()), failed_);
        return true;
    }
    const auto it = routes_.find(url);
    if (it == routes_.end())
        return false;
    route = OrderRoute(it->second, failed_);
    return true;
}

bool ProxyResolver::Route(const std::string& url, ProxyRoute& route, const CRefPtr<RouteWaker>& waker)
{
    CriticalSectionGuard guard(&lock_);
    if (Known(url, route))
        return true;
    if (std::find(queue_.begin(), queue_.end(), url) == queue_.end())
        queue_.push_back(url);
    if (waker && std::find(waiting_.begin(), waiting_.end(), waker) == waiting_.end())
        waiting_.push_back(waker);
    StartThread();
    return false;
}

void ProxyResolver::MarkFailed(const ProxyHop& hop)
{
    if (hop.kind == ProxyHop::kDirect)
        return;
    CriticalSectionGuard guard(&lock_);
    failed_.insert(hop.CurlProxy());
}

void ProxyResolver::WakeWaiting()
{
    std::vector<CRefPtr<RouteWaker> > waiting;
    {
        CriticalSectionGuard guard(&lock_);
        waiting.swap(waiting_);
    }
    for (const CRefPtr<RouteWaker>& waker : waiting)
        waker->Wake();
}

ProxyRoute ProxyResolver::Resolve(const std::string& url, const ProxyConfig& config)
{
    const std::wstring wideUrl = ToWide(url);
    LookupOutcome detect, script;
    bool detectFailed, scriptFailed;
    {
        CriticalSectionGuard guard(&lock_);
        detectFailed = autoDetectFailed_;
        scriptFailed = scriptFailed_;
    }
    if (config.autoDetect && !detectFailed) {
        detect = platform_.Lookup(IProxyPlatform::kAutoDetect, std::wstring(), wideUrl);
        detectFailed = !detect.ok;
    }
    if (!detect.ok && !config.scriptUrl.empty() && !scriptFailed) {
        script = platform_.Lookup(IProxyPlatform::kScript, config.scriptUrl, wideUrl);
        scriptFailed = !script.ok;
    }
    {
        CriticalSectionGuard guard(&lock_);
        autoDetectFailed_ = autoDetectFailed_ || detectFailed;
        scriptFailed_ = scriptFailed_ || scriptFailed;
    }
    return DecideRoute(config, url, detect, script);
}

void ProxyResolver::Run()
{
    while (!stopRequested_) {
        WaitForSingleObject(signal_, INFINITE);
        if (stopRequested_)
            break;
        bool known;
        {
            CriticalSectionGuard guard(&lock_);
            known = configKnown_;
        }
        if (!known) {
            const ProxyConfig config = platform_.ReadConfig();
            HTTP_LOG_F(LOG_INFO, kSource, L"proxy settings: detect:%d script:%s proxy:%s bypass:%s",
                       config.autoDetect ? 1 : 0, config.scriptUrl.c_str(), config.proxy.c_str(),
                       config.bypass.c_str());
            // Whether detection works at all is the same for every address:
            // learnt now, a network without it costs no wait at the first
            // request. (Which proxy it names is asked per address.)
            bool detectFailed = false;
            if (config.autoDetect)
                detectFailed = !platform_.Lookup(IProxyPlatform::kAutoDetect, std::wstring(), kDetectProbeUrl).ok;
            CriticalSectionGuard guard(&lock_);
            config_ = config;
            autoDetectFailed_ = detectFailed;
            configKnown_ = true;
        }
        // Each answer wakes the workers at once: the first request does not
        // wait for the lookups of the others.
        WakeWaiting();
        while (!stopRequested_) {
            std::string url;
            ProxyRoute route;
            ProxyConfig config;
            {
                CriticalSectionGuard guard(&lock_);
                while (!queue_.empty() && Known(queue_.front(), route))
                    queue_.pop_front();
                if (queue_.empty())
                    break;
                url = queue_.front();
                config = config_;
            }
            route = Resolve(url, config);
            HTTP_LOG_F(LOG_INFO, kSource, L"proxy route %S: %s", url.c_str(), Describe(route).c_str());
            {
                CriticalSectionGuard guard(&lock_);
                routes_[url] = route;
                queue_.pop_front();
            }
            WakeWaiting();
        }
        WakeWaiting();
    }
}

ProxyResolver& DefaultProxyResolver()
{
    // Never destroyed: at exit its thread may be waiting for a lookup.
    static ProxyResolver* resolver = new ProxyResolver(*new SystemProxyPlatform);
    return *resolver;
}
