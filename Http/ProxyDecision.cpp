#include "Http/ProxyDecision.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const int kHttpProxyPort = 80;  // what Windows assumes for a proxy named without a port
const int kSocksPort = 1080;

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Proxy names and host patterns are host names: ASCII (an international name
// is stored in its ASCII form). Anything else cannot name a host and is
// dropped, which makes such an entry match nothing.
std::string Ascii(const std::wstring& w)
{
    std::string out;
    out.reserve(w.size());
    for (wchar_t c : w)
        if (c > 0 && c < 0x80)
            out.push_back(static_cast<char>(c));
    return out;
}

// Splits on any of `separators`, dropping empty pieces.
std::vector<std::string> Split(const std::string& text, const char* separators)
{
    std::vector<std::string> out;
    std::string piece;
    for (char c : text) {
        if (std::strchr(separators, c)) {
            if (!piece.empty())
                out.push_back(piece);
            piece.clear();
        } else {
            piece.push_back(c);
        }
    }
    if (!piece.empty())
        out.push_back(piece);
    return out;
}

bool AllDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "host", "host:port", "[v6]", "[v6]:port", or a bare IPv6 address (several
// colons: no port). `port` is 0 when none is given.
void SplitHostPort(const std::string& text, std::string& host, int& port)
{
    port = 0;
    host = text;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            return;
        host = text.substr(1, close - 1);
        if (close + 1 < text.size() && text[close + 1] == ':' && AllDigits(text.substr(close + 2)))
            port = std::atoi(text.c_str() + close + 2);
        return;
    }
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon)
        return;
    if (AllDigits(text.substr(colon + 1))) {
        host = text.substr(0, colon);
        port = std::atoi(text.c_str() + colon + 1);
    }
}

bool MakeHop(ProxyHop::Kind kind, const std::string& text, ProxyHop& hop)
{
    std::string host;
    int port = 0;
    SplitHostPort(text, host, port);
    if (host.empty() || port < 0 || port > 65535)
        return false;
    if (port == 0)
        port = kind == ProxyHop::kHttp ? kHttpProxyPort : kSocksPort;
    hop.kind = kind;
    hop.hostPort = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
    return true;
}

// '*' stands for any run of characters; everything else matches itself.
bool Glob(const std::string& pattern, const std::string& text)
{
    size_t p = 0, t = 0, star = std::string::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool BypassEntryMatches(std::string entry, const UrlParts& url)
{
    if (entry == "<local>")
        return url.host.find('.') == std::string::npos && url.host.find(':') == std::string::npos;
    const size_t schemeEnd = entry.find("://");
    if (schemeEnd != std::string::npos) {
        if (entry.substr(0, schemeEnd) != url.scheme)
            return false;
        entry = entry.substr(schemeEnd + 3);
    }
    std::string host;
    int port = 0;
    SplitHostPort(entry, host, port);
    if (port != 0 && port != url.port)
        return false;
    if (!host.empty() && host[0] == '.')
        host = "*" + host;
    return !host.empty() && Glob(host, url.host);
}

void AddUnique(ProxyRoute& route, const ProxyHop& hop)
{
    if (std::find(route.begin(), route.end(), hop) == route.end())
        route.push_back(hop);
}

}  // namespace

std::string ProxyHop::CurlProxy() const
{
    switch (kind) {
    case kHttp: return "http://" + hostPort;
    case kSocks4: return "socks4://" + hostPort;
    case kSocks5: return "socks5://" + hostPort;
    case kDirect: break;
    }
    return std::string();
}

bool SplitUrl(const std::string& url, UrlParts& parts)
{
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos || schemeEnd == 0)
        return false;
    UrlParts out;
    out.scheme = Lower(url.substr(0, schemeEnd));
    const size_t start = schemeEnd + 3;
    size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority = authority.substr(at + 1);
    SplitHostPort(Lower(authority), out.host, out.port);
    if (out.host.empty())
        return false;
    if (out.port == 0)
        out.port = out.scheme == "https" ? 443 : 80;
    parts = out;
    return true;
}

bool ParseConnectionSettings(const std::vector<uint8_t>& blob, ProxyConfig& config)
{
    size_t at = 0;
    auto dword = [&](uint32_t& value) {
        if (blob.size() - at < 4)
            return false;
        value = static_cast<uint32_t>(blob[at]) | (static_cast<uint32_t>(blob[at + 1]) << 8) |
                (static_cast<uint32_t>(blob[at + 2]) << 16) | (static_cast<uint32_t>(blob[at + 3]) << 24);
        at += 4;
        return true;
    };
    // A string: its length, then that many bytes of text. A value that ends
    // before a string's length field simply has no more strings.
    auto text = [&](std::wstring& out) {
        uint32_t length = 0;
        if (at == blob.size())
            return true;
        if (!dword(length) || length > blob.size() - at)
            return false;
        out.assign(blob.begin() + static_cast<std::ptrdiff_t>(at),
                   blob.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
        return true;
    };
    uint32_t version = 0, counter = 0, flags = 0;
    std::wstring proxy, bypass, script;
    if (!dword(version) || !dword(counter) || !dword(flags) || !text(proxy) || !text(bypass) || !text(script))
        return false;
    // The strings stay stored when their switch is off; only the flags say
    // what is in force.
    const uint32_t kProxyOn = 2, kScriptOn = 4, kDetectOn = 8;
    ProxyConfig out;
    out.autoDetect = (flags & kDetectOn) != 0;
    if (flags & kScriptOn)
        out.scriptUrl = script;
    if (flags & kProxyOn) {
        out.proxy = proxy;
        out.bypass = bypass;
    }
    config = out;
    return true;
}

ProxyRoute NamedProxyRoute(const std::wstring& proxyList, const std::string& scheme)
{
    std::string forScheme, forAll, socks;
    for (const std::string& entry : Split(Lower(Ascii(proxyList)), "; \t\r\n")) {
        const size_t eq = entry.find('=');
        if (eq == std::string::npos) {
            if (forAll.empty())
                forAll = entry;
            continue;
        }
        const std::string key = entry.substr(0, eq);
        if (key == scheme && forScheme.empty())
            forScheme = entry.substr(eq + 1);
        else if (key == "socks" && socks.empty())
            socks = entry.substr(eq + 1);
    }
    ProxyRoute route;
    ProxyHop hop;
    std::string chosen = !forScheme.empty() ? forScheme : forAll;
    ProxyHop::Kind kind = ProxyHop::kHttp;
    if (chosen.empty() && !socks.empty()) {
        chosen = socks;
        kind = ProxyHop::kSocks4;
    }
    // A value may carry its own scheme ("http://proxy:8080").
    const size_t schemeEnd = chosen.find("://");
    if (schemeEnd != std::string::npos) {
        const std::string given = chosen.substr(0, schemeEnd);
        chosen = chosen.substr(schemeEnd + 3);
        if (given == "socks" || given == "socks4")
            kind = ProxyHop::kSocks4;
        else if (given == "socks5")
            kind = ProxyHop::kSocks5;
        else if (given != "http")
            chosen.clear();
    }
    while (!chosen.empty() && chosen.back() == '/')
        chosen.pop_back();
    if (!chosen.empty() && MakeHop(kind, chosen, hop))
        route.push_back(hop);
    if (route.empty())
        route.push_back(ProxyHop());
    return route;
}

bool Bypassed(const std::wstring& bypassList, const std::string& url)
{
    UrlParts parts;
    if (!SplitUrl(url, parts))
        return false;
    for (const std::string& entry : Split(Lower(Ascii(bypassList)), "; ,\t\r\n"))
        if (BypassEntryMatches(entry, parts))
            return true;
    return false;
}

ProxyRoute ParseScriptAnswer(const std::wstring& answer)
{
    ProxyRoute route;
    for (const std::string& item : Split(Ascii(answer), ";")) {
        const std::vector<std::string> words = Split(item, " \t\r\n");
        if (words.empty())
            continue;
        const std::string keyword = Lower(words[0]);
        ProxyHop hop;
        if (keyword == "direct") {
            AddUnique(route, ProxyHop());
        } else if (keyword == "proxy" || keyword == "http" || keyword == "socks" || keyword == "socks4" ||
                   keyword == "socks5") {
            const ProxyHop::Kind kind = keyword == "socks5" ? ProxyHop::kSocks5
                                        : keyword == "proxy" || keyword == "http" ? ProxyHop::kHttp
                                                                                  : ProxyHop::kSocks4;
            if (words.size() >= 2 && MakeHop(kind, Lower(words[1]), hop))
                AddUnique(route, hop);
        } else if (keyword.find(':') != std::string::npos || keyword.find('.') != std::string::npos) {
            // WinHTTP's own form: proxies without keywords, blank-separated
            // or one per item.
            for (const std::string& word : words)
                if (MakeHop(ProxyHop::kHttp, Lower(word), hop))
                    AddUnique(route, hop);
        }
        // Anything else (HTTPS, QUIC, ...) is a kind this program does not speak.
    }
    if (route.empty())
        route.push_back(ProxyHop());
    return route;
}

ProxyRoute DecideRoute(const ProxyConfig& config, const std::string& url, const LookupOutcome& autoDetect,
                       const LookupOutcome& script)
{
    if (config.autoDetect && autoDetect.ok)
        return ParseScriptAnswer(autoDetect.answer);
    if (!config.scriptUrl.empty() && script.ok)
        return ParseScriptAnswer(script.answer);
    UrlParts parts;
    if (config.proxy.empty() || !SplitUrl(url, parts) || Bypassed(config.bypass, url))
        return ProxyRoute(1);
    return NamedProxyRoute(config.proxy, parts.scheme);
}

ProxyRoute OrderRoute(const ProxyRoute& route, const std::set<std::string>& failedHops)
{
    ProxyRoute ordered(route);
    std::stable_partition(ordered.begin(), ordered.end(), [&](const ProxyHop& hop) {
        return hop.kind == ProxyHop::kDirect || failedHops.count(hop.CurlProxy()) == 0;
    });
    return ordered;
}

bool ProxyUnreachable(CURLcode result, bool connected, long connectCode, long responseCode)
{
    // Any answer (to CONNECT or to the request) came from a proxy that works.
    if (connectCode != 0 || responseCode != 0)
        return false;
    switch (result) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PROXY:
        return true;
    case CURLE_OPERATION_TIMEDOUT:
        return !connected;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return true;
    default:
        return false;
    }
}
