// The proxy choice on recorded inputs: connection settings as Windows stores
// them, proxy and bypass lists as users type them, script answers as WinHTTP
// and scripts give them.

#include <gtest/gtest.h>

#include "Http/ProxyDecision.h"

namespace {

std::string Describe(const ProxyRoute& route)
{
    std::string text;
    for (const ProxyHop& hop : route)
        text += (text.empty() ? "" : " ") + (hop.kind == ProxyHop::kDirect ? std::string("DIRECT") : hop.CurlProxy());
    return text;
}

std::vector<uint8_t> Blob(uint32_t flags, const std::string& proxy, const std::string& bypass, const std::string& script)
{
    std::vector<uint8_t> b;
    auto dword = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    dword(0x46);
    dword(7);
    dword(flags);
    for (const std::string* s : {&proxy, &bypass, &script}) {
        dword(static_cast<uint32_t>(s->size()));
        b.insert(b.end(), s->begin(), s->end());
    }
    b.insert(b.end(), 32, 0);  // the detection fields Windows appends
    return b;
}

TEST(ProxyDecision, ConnectionSettingsKeepOnlyWhatTheFlagsSwitchOn)
{
    // The strings stay stored when their switch is off (2 proxy, 4 script, 8 detect).
    ProxyConfig c;
    ASSERT_TRUE(ParseConnectionSettings(Blob(0x0D, "proxy.corp:8080", "<local>", "http://wpad/x.pac"), c));
    EXPECT_TRUE(c.autoDetect);
    EXPECT_EQ(L"", c.proxy);
    EXPECT_EQ(L"", c.bypass);
    EXPECT_EQ(L"http://wpad/x.pac", c.scriptUrl);
    // A string that overruns the value, and a value without its flags.
    std::vector<uint8_t> cut = Blob(0x03, "proxy.corp:8080", "", "");
    cut.resize(20);
    EXPECT_FALSE(ParseConnectionSettings(cut, c));
    EXPECT_FALSE(ParseConnectionSettings(std::vector<uint8_t>(8, 0), c));
}

TEST(ProxyDecision, RoutesFromSettings)
{
    struct Case {
        const wchar_t* proxy;
        const wchar_t* bypass;
        const char* url;
        const char* route;
    } cases[] = {
        {L"proxy.corp:8080", L"", "http://dl.example/a", "http://proxy.corp:8080"},
        {L"proxy.corp", L"", "https://dl.example/a", "http://proxy.corp:80"},
        {L"http=h1:81;https=h2:82;ftp=h3:83", L"", "https://dl.example/a", "http://h2:82"},
        {L"http=h1:81 ftp=h3:83", L"", "https://dl.example/a", "DIRECT"},
        {L"https=h2:82;socks=s:1081", L"", "http://dl.example/a", "socks4://s:1081"},
        {L"http=http://h1:81/", L"", "http://dl.example/a", "http://h1:81"},
        {L"[::1]:3128", L"", "http://dl.example/a", "http://[::1]:3128"},
        {L"p:1", L"<local>", "http://intranet/x", "DIRECT"},
        {L"p:1", L"<local>", "http://127.0.0.1/x", "http://p:1"},
        {L"p:1", L"*.Corp.example; 10.*", "http://dl.corp.example/x", "DIRECT"},
        {L"p:1", L"*.corp.example", "http://corp.example/x", "http://p:1"},
        {L"p:1", L".corp.example", "http://a.corp.example/x", "DIRECT"},
        {L"p:1", L"10.*", "http://10.1.2.3:8080/x", "DIRECT"},
        {L"p:1", L"dl.example:8080", "http://dl.example/x", "http://p:1"},
        {L"p:1", L"dl.example:8080", "http://dl.example:8080/x", "DIRECT"},
        {L"p:1", L"https://dl.example", "https://user@DL.example/x", "DIRECT"},
    };
    for (const Case& c : cases) {
        ProxyConfig config;
        config.proxy = c.proxy;
        config.bypass = c.bypass;
        EXPECT_EQ(c.route, Describe(DecideRoute(config, c.url, LookupOutcome(), LookupOutcome())))
            << c.url << " proxy " << std::string(c.proxy, c.proxy + wcslen(c.proxy));
    }
}

TEST(ProxyDecision, ScriptAnswersAndWhatDecides)
{
    struct Case {
        const wchar_t* answer;
        const char* route;
    } answers[] = {
        {L"PROXY a:8080; PROXY b:8080; DIRECT", "http://a:8080 http://b:8080 DIRECT"},
        {L"127.0.0.1:3128", "http://127.0.0.1:3128"},            // WinHTTP's form
        {L"SOCKS5 s:1; socks s2; PROXY a:1; PROXY a:1", "socks5://s:1 socks4://s2:1080 http://a:1"},
        {L"HTTPS secure:443; DIRECT", "DIRECT"},                 // kinds this program does not speak
        {L"", "DIRECT"},
    };
    for (const Case& c : answers)
        EXPECT_EQ(c.route, Describe(ParseScriptAnswer(c.answer)));

    ProxyConfig config;
    config.autoDetect = true;
    config.scriptUrl = L"http://pac/x.pac";
    config.proxy = L"named:1";
    const LookupOutcome none, detected{true, L"PROXY d:1"}, scripted{true, L"PROXY s:1"};
    EXPECT_EQ("http://d:1", Describe(DecideRoute(config, "http://x/", detected, scripted)));
    EXPECT_EQ("http://s:1", Describe(DecideRoute(config, "http://x/", none, scripted)));
    EXPECT_EQ("http://named:1", Describe(DecideRoute(config, "http://x/", none, none)));
    config.autoDetect = false;
    EXPECT_EQ("http://s:1", Describe(DecideRoute(config, "http://x/", detected, scripted)));

    // Hops that failed earlier go last, in their order; direct is never "failed".
    const ProxyRoute route = ParseScriptAnswer(L"PROXY a:1; PROXY b:1; DIRECT; PROXY c:1");
    EXPECT_EQ("http://b:1 DIRECT http://a:1 http://c:1",
              Describe(OrderRoute(route, {"http://a:1", "http://c:1", ""})));
}

TEST(ProxyDecision, OnlyAProxyThatNeverAnsweredIsLeftForTheNextHop)
{
    EXPECT_TRUE(ProxyUnreachable(CURLE_COULDNT_CONNECT, false, 0, 0));
    EXPECT_TRUE(ProxyUnreachable(CURLE_OPERATION_TIMEDOUT, false, 0, 0));
    EXPECT_TRUE(ProxyUnreachable(CURLE_GOT_NOTHING, true, 0, 0));
    EXPECT_FALSE(ProxyUnreachable(CURLE_OPERATION_TIMEDOUT, true, 0, 0)) << "a stall after connecting";
    EXPECT_FALSE(ProxyUnreachable(CURLE_RECV_ERROR, true, 502, 0)) << "the proxy answered CONNECT";
    EXPECT_FALSE(ProxyUnreachable(CURLE_WRITE_ERROR, true, 0, 407));
    EXPECT_FALSE(ProxyUnreachable(CURLE_PEER_FAILED_VERIFICATION, true, 200, 0));
}

}  // namespace
