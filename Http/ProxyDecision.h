#pragma once
// Which way a transfer takes to its server, decided as a browser decides it
// from the system's proxy settings: automatic detection first, then the
// configuration script, then the named proxy with its bypass list, else
// direct. Everything here is a pure function over plain inputs (the settings
// as recorded, a script's answer, the hops that failed earlier); reading the
// settings and running scripts is ProxySettings' job, and putting the choice
// on a transfer is CCurlBase's.
//
// Threads: any; no state.

#include <curl/curl.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// The settings in force, as Windows stores them for a connection.
struct ProxyConfig {
    bool autoDetect = false;  // find a script on the network (WPAD)
    std::wstring scriptUrl;   // the configuration script's address; empty: none
    // "host:port" for every scheme, or per scheme: "http=h:p;https=h:p;socks=h:p".
    std::wstring proxy;
    // Hosts that go direct: "<local>;*.corp.example;10.*;example.com:8080".
    std::wstring bypass;
};

// One way to the server: direct, or through one proxy.
struct ProxyHop {
    enum Kind { kDirect, kHttp, kSocks4, kSocks5 };
    Kind kind = kDirect;
    std::string hostPort;  // "host:port", always with a port; empty when direct

    // What libcurl's CURLOPT_PROXY takes: "" (no proxy) or "http://host:port".
    std::string CurlProxy() const;
    bool operator==(const ProxyHop& other) const { return kind == other.kind && hostPort == other.hostPort; }
};

// The hops to try in order; never empty (a route of its own is direct).
typedef std::vector<ProxyHop> ProxyRoute;

// Scheme, lower-case host (IPv6 without brackets) and port of an absolute
// URL; the port is the scheme's default when the URL names none. False for
// text that is no such URL.
struct UrlParts {
    std::string scheme;
    std::string host;
    int port = 0;
};
bool SplitUrl(const std::string& url, UrlParts& parts);

// The binary "DefaultConnectionSettings" value of a connection. False when the
// value is too short or its strings overrun it; `config` is then untouched.
bool ParseConnectionSettings(const std::vector<uint8_t>& blob, ProxyConfig& config);

// The named proxy for `scheme` ("http", "https"): its own entry, else the
// entry for every scheme, else a SOCKS entry; a direct route when none fits.
ProxyRoute NamedProxyRoute(const std::wstring& proxyList, const std::string& scheme);

// True when the bypass list names the URL's host.
bool Bypassed(const std::wstring& bypassList, const std::string& url);

// A script's answer ("PROXY a:80; PROXY b:80; DIRECT", or WinHTTP's "a:80;b:80")
// as a route. Kinds this program cannot use are left out; nothing usable
// left means direct.
ProxyRoute ParseScriptAnswer(const std::wstring& answer);

// What automatic detection and the configuration script answered for the
// URL; `ok` false when that step was not run or failed.
struct LookupOutcome {
    bool ok = false;
    std::wstring answer;
};

// The route for `url` under `config`.
ProxyRoute DecideRoute(const ProxyConfig& config, const std::string& url, const LookupOutcome& autoDetect,
                       const LookupOutcome& script);

// The route with the hops that failed earlier in this run moved to its end
// (in their order), so they are tried last rather than never.
ProxyRoute OrderRoute(const ProxyRoute& route, const std::set<std::string>& failedHops);

// After a transfer through a proxy ended with `result`: true when the proxy
// itself could not be reached or dropped the connection before any answer, so
// the next hop should be tried. `connected` is whether a connection was made;
// the codes are the proxy's answer to CONNECT and the server's status (0: none).
bool ProxyUnreachable(CURLcode result, bool connected, long connectCode, long responseCode);
