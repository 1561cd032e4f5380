#pragma once
// The route of every transfer, found once per address and kept for the run.
//
// The settings are read on the resolver's own thread, once (Prefetch starts
// that as soon as the channels come up, so a machine without a proxy has its
// answer before the first click). A route that needs no script (direct, a
// named proxy, a bypassed host) is decided at once from them; one that needs
// a script lookup is found on the resolver's thread, and the channel's worker
// that asked is woken when it is known: no lookup ever runs on the UI thread
// or on a channel's worker. Whether automatic detection or the script works
// is learnt once: after a failure (or a lookup that outlived its bound) the
// run goes on with the next rule, without asking again.
//
// A proxy that could not be reached is remembered (MarkFailed): later routes
// try it after the others instead of first.
//
// Threads: Prefetch, Route and MarkFailed from any thread (the channels'
// workers); the lookups on the resolver's thread.
// Ownership: the platform is not owned. The process-wide resolver is never
// destroyed, so closing the program never waits for a lookup.

#include <curl/curl.h>

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Http/ProxyDecision.h"
#include "Http/ProxySettings.h"
#include "Runtime/RefPtr.h"
#include "Runtime/SimpleThread.h"

// Wakes a channel's worker when a route it waits for is known. Shared by the
// workshop and the resolver's waiting list; Detach (before the multi handle
// goes) ends the wake-ups.
class RouteWaker : public CRefThreadSafeBase<RouteWaker> {
public:
    explicit RouteWaker(CURLM* multi);
    ~RouteWaker() override;
    void Wake();
    void Detach();

private:
    CRITICAL_SECTION lock_;
    CURLM* multi_;
};

class ProxyResolver : public CSimpleThread {
public:
    explicit ProxyResolver(IProxyPlatform& platform);
    // Stops the thread, waiting for a lookup in progress (each is bounded).
    ~ProxyResolver() override;

    // Starts reading the settings, unless that has begun.
    void Prefetch();
    // The route for `url`, in the order to try (earlier failures last): true
    // when it is known now. Otherwise false, and `waker` is woken once it is.
    bool Route(const std::string& url, ProxyRoute& route, const CRefPtr<RouteWaker>& waker);
    // `hop` could not be reached.
    void MarkFailed(const ProxyHop& hop);

    void Stop(unsigned timeoutMs) override;

protected:
    void Run() override;

private:
    // Caller holds the lock. True when the route for `url` is known, with it.
    bool Known(const std::string& url, ProxyRoute& route) const;
    ProxyRoute Resolve(const std::string& url, const ProxyConfig& config);
    void StartThread();  // caller holds the lock
    void WakeWaiting();

    IProxyPlatform& platform_;
    mutable CRITICAL_SECTION lock_;
    HANDLE signal_;
    bool configKnown_ = false;
    ProxyConfig config_;
    bool autoDetectFailed_ = false;
    bool scriptFailed_ = false;
    std::map<std::string, ProxyRoute> routes_;
    std::deque<std::string> queue_;
    std::vector<CRefPtr<RouteWaker> > waiting_;
    std::set<std::string> failed_;
};

// The resolver of the system's settings, shared by every channel.
ProxyResolver& DefaultProxyResolver();
