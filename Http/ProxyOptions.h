#pragma once
// A route's hop as libcurl options, and what a finished exchange tells about
// the proxy it went through.
//
// Every transfer gets its proxy explicitly (none is "", which libcurl takes
// as "no proxy"), and an empty no-proxy list, so libcurl's own environment
// variables (http_proxy, no_proxy, ...) never decide where a request goes.
// Through a proxy, the proxy's credentials are the user's own Windows sign-on
// (NTLM or Negotiate through SSPI) and nothing else: no password is asked
// for, stored or sent. The proxy's answer to CONNECT stays out of the header
// callback, so the answer handling sees the server's answers only.
//
// Threads: whoever holds the easy handle while it is not being performed
// (the request before hand-over, the worker between attempts).

#include <curl/curl.h>

#include "Http/ProxyDecision.h"

// False when libcurl refused an option (logged).
bool ApplyProxyHop(CURL* easy, const ProxyHop& hop);

// After an exchange through a proxy ended with `result`.
struct ProxyAnswer {
    bool unreachable = false;   // the next hop should be tried
    bool authRequired = false;  // the proxy answered 407
};
ProxyAnswer ReadProxyAnswer(CURL* easy, CURLcode result);
