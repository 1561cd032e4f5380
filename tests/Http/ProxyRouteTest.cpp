// Transfers on their routes through a real proxy (Debian's tinyproxy, started
// here), with the settings and script answers given through the resolver's
// platform: a fallback list (which Wine's own script engine cuts to its first
// entry), HTTPS through the proxy's tunnel, and a tunnel the proxy refuses
// without credentials (plain HTTP meets squid's in the end-to-end tests).

#include <atomic>
#include <memory>

#include "Http/HttpTestFixture.h"
#include "Http/ProxyResolver.h"
#include "Runtime/TextUtil.h"

namespace httptest {
namespace {

class RecordedPlatform : public IProxyPlatform {
public:
    ProxyConfig config;
    std::wstring answer;  // of every script lookup
    std::atomic<int> lookups{0};
    ProxyConfig ReadConfig() override { return config; }
    LookupOutcome Lookup(LookupKind, const std::wstring&, const std::wstring&) override
    {
        ++lookups;
        return LookupOutcome{true, answer};
    }
};

// Runs `script` with the Linux shell; waits for it when asked to.
void Shell(const std::string& script, bool wait)
{
    std::wstring cmd = L"sh -c \"" + std::wstring(script.begin(), script.end()) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(L"Z:\\bin\\sh", &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    if (wait)
        WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

// tinyproxy on a free port, ended with the test (and by itself after 5 minutes).
class Tinyproxy {
public:
    explicit Tinyproxy(const std::string& extra = "") : port_(RefusingPort())
    {
        const std::string base = "/tmp/ov-tinyproxy-" + std::to_string(port_);
        const std::string conf = "Port " + std::to_string(port_) +
                                 "\nListen 127.0.0.1\nAllow 127.0.0.1\nUser nobody\nGroup nogroup\n"
                                 "ViaProxyName \"ovtest\"\nPidFile \"" + base + ".pid\"\n" + extra;
        testsupport::WriteBytes(WinePath(base + ".conf"), conf);
        Shell("exec /usr/bin/timeout 300 /usr/bin/tinyproxy -d -c " + base + ".conf", false);
        kill_ = "kill $(cat " + base + ".pid); rm -f " + base + ".*";
        for (int i = 0; i < 100 && !Listening(); ++i)
            Sleep(100);
    }
    ~Tinyproxy() { Shell(kill_, true); }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    bool Listening() const
    {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(port_));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        closesocket(s);
        return ok;
    }

private:
    int port_;
    std::string kill_;
};

// A channel of its own, routed by a resolver over recorded settings.
class ProxyRouteTest : public DownloadEngineTest {
protected:
    void Open()
    {
        resolver_.reset(new ProxyResolver(platform_));
        workshop_.reset(new CCurlWorkshop(CCurlWorkshop::kDefaultIdleLimitMs, resolver_.get()));
        ASSERT_TRUE(workshop_->Init() && workshop_->Start());
        manager_.reset(new CHttpMgr());
    }
    void TearDown() override
    {
        if (workshop_) {
            EXPECT_TRUE(testsupport::StopWithin(*workshop_, 10000));
        }
        workshop_.reset();
        manager_.reset();
        resolver_.reset();
        DownloadEngineTest::TearDown();
    }
    CommandOutcome Fetch(const std::wstring& url)
    {
        CHttpCommand cmd(workshop_.get(), manager_.get());
        CommandOutcome out;
        cmd.SetUrl(url);
        cmd.SetCallback(&RecordCommand, reinterpret_cast<uintptr_t>(&out));
        EXPECT_TRUE(Submit(manager_.get(), &cmd));
        EXPECT_TRUE(WaitFor([&] { return out.calls > 0; }, 60000));
        return out;
    }

    RecordedPlatform platform_;
    std::unique_ptr<ProxyResolver> resolver_;
    std::unique_ptr<CCurlWorkshop> workshop_;
    std::unique_ptr<CHttpMgr> manager_;
};

TEST_F(ProxyRouteTest, AScriptsFallbackListIsTriedInOrderAndADeadProxyThenComesLast)
{
    Tinyproxy proxy;
    ASSERT_TRUE(proxy.Listening());
    const std::string dead = "127.0.0.1:" + std::to_string(RefusingPort());
    platform_.config.scriptUrl = L"http://pac.invalid/proxy.pac";
    platform_.answer = ToWide("PROXY " + dead + "; PROXY " + proxy.HostPort() + "; DIRECT");
    Open();
    for (const char* name : {"first", "second", "first"}) {
        CommandOutcome out = Fetch(server_->Url(Path(std::string(name) + "?size=700&seed=3")));
        EXPECT_EQ(0, out.type) << name;
        EXPECT_TRUE(out.body == ExpectedContent(700, 3)) << name;
    }
    EXPECT_EQ(3u, server_->Requests(Path()).size()) << "each went out once, through the live proxy";
    const std::string via = server_->Control("/_via");
    size_t seen = 0;
    for (size_t at = via.find(Path()); at != std::string::npos; at = via.find(Path(), at + 1), ++seen)
        EXPECT_LT(via.find("tinyproxy", at), via.find('\n', at)) << via.substr(at, 80);
    EXPECT_EQ(3u, seen);
    EXPECT_EQ(2, platform_.lookups.load()) << "one lookup per address, kept for the run";
    ProxyRoute route;
    ASSERT_TRUE(resolver_->Route(server_->NarrowUrl(Path("second?size=700&seed=3")), route, nullptr));
    ASSERT_EQ(3u, route.size());
    EXPECT_EQ("http://" + dead, route.back().CurlProxy()) << "the dead proxy is tried last from now on";
}

TEST_F(ProxyRouteTest, HttpsGoesThroughTheTunnelWithTheServersCertificateChecked)
{
    ASSERT_TRUE(TrustTestCa());
    Tinyproxy proxy;
    platform_.config.proxy = ToWide(proxy.HostPort());
    Open();
    // A resumed download: the proxy's "200 Connection established" must not
    // be taken for the server's answer to the range (it would empty the file).
    FaultServer& tls = FaultServer::Tls("localhost");
    const std::string path = Path("pkg?size=90000&seed=4");
    testsupport::WriteBytes(file_, ExpectedContent(90000, 4).substr(0, 30000));
    CHttpDownloadFile dl(workshop_.get(), manager_.get());
    DownloadOutcome out;
    ASSERT_TRUE(dl.Download(tls.Url(path), file_, 90000, reinterpret_cast<uintptr_t>(&out), &RecordDownloadDone,
                            &RecordDownloadProgress));
    ASSERT_TRUE(Finish(out, 60000));
    EXPECT_EQ(0, out.type) << out.code;
    EXPECT_TRUE(FileBytes() == ExpectedContent(90000, 4));
    ASSERT_EQ(1u, tls.Requests(path).size());
    EXPECT_EQ("bytes=30000-", tls.Requests(path)[0].range);
    // The check is on the server at the tunnel's end, not on the proxy.
    CommandOutcome refused = Fetch(FaultServer::Tls("untrusted").Url(Path("u")));
    EXPECT_EQ(CURLE_PEER_FAILED_VERIFICATION, refused.code);
}

TEST_F(ProxyRouteTest, ATunnelRefusedForCredentialsIsItsOwnResultAndNotRetried)
{
    Tinyproxy proxy("BasicAuth ovuser secret\n");
    platform_.config.proxy = ToWide(proxy.HostPort());
    Open();
    CommandOutcome out = Fetch(FaultServer::Tls("localhost").Url(Path("tunnel")));
    EXPECT_EQ(ERR_USER, out.type);
    EXPECT_EQ(HTTP_ERR_PROXY_AUTH, out.code);
    EXPECT_TRUE(FaultServer::Tls("localhost").Requests(Path()).empty());
}

}  // namespace
}  // namespace httptest
