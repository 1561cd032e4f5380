// What a transfer may do, whatever a manifest names or a server answers: only
// HTTP and HTTPS (no connection is ever made for another scheme), HTTPS only
// with a certificate the system trusts for that host and never a step back to
// plain HTTP, bodies no larger than their limit, and no exception through
// libcurl when memory runs out.

#include <memory>

#include "Http/HttpTestFixture.h"
#include "Http/TlsPeerCheck.h"

namespace httptest {
namespace {

// A local port that listens but is never served: a connection to it would
// wait in its queue, where the test sees it.
class Listener {
public:
    Listener()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof addr;
        if (socket_ != INVALID_SOCKET && bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            listen(socket_, 8) == 0 && getsockname(socket_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port_ = ntohs(addr.sin_port);
        u_long nonBlocking = 1;
        ioctlsocket(socket_, FIONBIO, &nonBlocking);
    }
    ~Listener()
    {
        closesocket(socket_);
        WSACleanup();
    }
    int Port() const { return port_; }
    // Did anybody connect?
    bool Connected()
    {
        SOCKET s = accept(socket_, nullptr, nullptr);
        if (s == INVALID_SOCKET)
            return false;
        closesocket(s);
        return true;
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    int port_ = 0;
};

// `url` as a query value (the server decodes it).
std::string Escaped(const std::string& url)
{
    std::string out;
    for (char c : url) {
        if (c == '&')
            out += "%26";
        else if (c == '?')
            out += "%3F";
        else if (c == '=')
            out += "%3D";
        else
            out += c;
    }
    return out;
}

class LimitsTest : public HttpEngineTest {};

TEST_F(LimitsTest, OnlyHttpAndHttpsAreEverConnected)
{
    Listener listener;
    ASSERT_NE(0, listener.Port());
    const std::string port = std::to_string(listener.Port());
    const std::string others[] = {
        "file:///C:/windows/win.ini",
        "ftp://127.0.0.1:" + port + "/ovinstaller.exe",
        "gopher://127.0.0.1:" + port + "/1",
        "dict://127.0.0.1:" + port + "/d:x",
        "telnet://127.0.0.1:" + port + "/",
        // A server that redirects there.
        server_->NarrowUrl(Path("r?mode=redirect&to=ftp://127.0.0.1:" + port + "/x")),
        server_->NarrowUrl(Path("r?mode=redirect&to=file:///C:/windows/win.ini")),
    };
    for (const std::string& url : others) {
        SCOPED_TRACE(url);
        CHttpCommand cmd;
        CommandOutcome out;
        ASSERT_TRUE(RunCommand(cmd, std::wstring(url.begin(), url.end()), out));
        EXPECT_EQ(ERR_CURL, out.type);
        // libcurl without those protocols cannot even parse a redirect to
        // some of them (a malformed URL to it); either way nothing is fetched.
        EXPECT_TRUE(out.code == CURLE_UNSUPPORTED_PROTOCOL || out.code == CURLE_URL_MALFORMAT) << out.code;
        EXPECT_TRUE(out.body.empty());
        EXPECT_FALSE(listener.Connected()) << "a connection was made";
    }
}

TEST_F(LimitsTest, ACommandBodyStopsAtItsLimit)
{
    struct Case {
        uint32_t limit;
        uint64_t size;
        bool fits;
    } cases[] = {{4096, 4096, true}, {4096, 4097, false}, {65536, 65536, true}, {65536, 65537, false},
                 {4096, 3 * 1024 * 1024, false}, {0, 300000, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.limit) + "/" + std::to_string(c.size));
        CHttpCommand cmd;
        cmd.SetMaxBodySize(c.limit);
        CommandOutcome out;
        const std::string path = Path("b" + std::to_string(c.size) + "?size=" + std::to_string(c.size) + "&seed=5");
        ASSERT_TRUE(RunCommand(cmd, server_->Url(path), out));
        if (c.fits) {
            EXPECT_EQ(0, out.type);
            EXPECT_TRUE(out.body == ExpectedContent(c.size, 5));
        } else {
            EXPECT_EQ(ERR_USER, out.type);
            EXPECT_EQ(COMMAND_ERR_BODY_TOO_LARGE, out.code);
            EXPECT_LE(out.body.size(), c.limit);
            // Not retried: the same answer would fail the same way.
            EXPECT_EQ(1u, server_->Requests(path).size());
        }
    }
}

TEST_F(LimitsTest, ADownloadNeverWritesPastTheExpectedSize)
{
    // Longer than the manifest said, with the length announced, without any
    // announced length (the body ends when the connection closes), and
    // through a redirect.
    const char* const answers[] = {"size=50000&seed=4", "size=50000&seed=4&mode=nolen",
                                   "size=50000&seed=4&mode=nolen&mode=redirect&hops=1"};
    for (const char* answer : answers) {
        SCOPED_TRACE(answer);
        testsupport::TempDir dir;
        const std::wstring file = dir / L"p.yw";
        CHttpDownloadFile dl;
        DownloadOutcome out;
        ASSERT_TRUE(dl.Download(server_->Url(Path(std::string("d?") + answer)), file, 1000,
                                reinterpret_cast<uintptr_t>(&out), &RecordDownloadDone, &RecordDownloadProgress));
        ASSERT_TRUE(WaitFor([&] { return out.calls > 0; }));
        EXPECT_EQ(ERR_USER, out.type);
        EXPECT_EQ(DOWNLOAD_ERR_LENGTH_MISMATCH, out.code);
        const std::string kept = testsupport::ReadBytes(file);
        EXPECT_LE(kept.size(), 1000u);
        EXPECT_TRUE(kept == ExpectedContent(kept.size(), 4));
    }
}

// A write stream that runs out of memory on its first write.
class ExhaustedStream : public OBufferStream {
protected:
    uint8_t* Allocate(uint32_t) override { throw std::bad_alloc(); }
};

TEST_F(LimitsTest, MemoryRunningOutInACallbackEndsTheTransferAsAWriteError)
{
    CCurlWorkshop workshop;
    ASSERT_TRUE(workshop.Init());
    ASSERT_TRUE(workshop.Start());
    struct Done : public CurlListener {
        void OnDone(CCurlBase*, CURLcode c) override { code = c; }
        void OnRecvBytes(CCurlBase*, unsigned int) override {}
        void OnSendBytes(CCurlBase*, unsigned int) override {}
        void OnHttpCode(CCurlBase*, int) override {}
        void OnRemoved(CCurlBase*, int) override {}
        void OnAdded(CCurlBase*, int) override {}
        int code = -1;
    } listener;
    CCurlHttp* http = new CCurlHttp(&listener);
    CRefPtr<CCurlBase> transfer(http);
    // Close releases the buffer allocated at construction, so the first
    // write must allocate again.
    ExhaustedStream* stream = new ExhaustedStream();
    stream->Close();
    http->SetWriteStream(stream);
    ASSERT_TRUE(http->Prepare(server_->Url(Path("oom?size=20000")), CCurlHttp::kMethodGet, 0, 5));
    workshop.AddTransfer(transfer);
    EXPECT_TRUE(WaitFor([&] { return listener.code != -1; }));
    EXPECT_EQ(CURLE_WRITE_ERROR, listener.code);
    workshop.Stop(INFINITE);
    workshop.Uninit();
}

class TlsTest : public LimitsTest {
protected:
    void SetUp() override
    {
        LimitsTest::SetUp();
        ASSERT_TRUE(TrustTestCa());
    }
};

TEST_F(TlsTest, OnlyATrustedCertificateForTheHostGetsARequest)
{
    struct Case {
        const char* cert;
        bool trusted;
    } cases[] = {{"localhost", true}, {"otherhost", false}, {"untrusted", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cert);
        FaultServer& tls = FaultServer::Tls(c.cert);
        ASSERT_NE(0, tls.Port());
        CHttpCommand cmd;
        CommandOutcome out;
        const std::string path = Path(std::string(c.cert) + "?size=3000&seed=7");
        ASSERT_TRUE(RunCommand(cmd, tls.Url(path), out));
        if (c.trusted) {
            EXPECT_EQ(0, out.type);
            EXPECT_TRUE(out.body == ExpectedContent(3000, 7));
            EXPECT_EQ(1u, tls.Requests(path).size());
        } else {
            EXPECT_EQ(ERR_CURL, out.type);
            EXPECT_EQ(CURLE_PEER_FAILED_VERIFICATION, out.code);
            EXPECT_TRUE(out.body.empty());
            EXPECT_TRUE(tls.Requests(Path()).empty()) << "a request reached a server that is not trusted";
        }
    }
    // Nothing was tried over plain HTTP instead.
    EXPECT_TRUE(server_->Requests(Path()).empty());
}

TEST_F(TlsTest, AnHttpsTransferNeverStepsBackToPlainHttp)
{
    FaultServer& tls = FaultServer::Tls("localhost");
    ASSERT_NE(0, tls.Port());
    const std::string plain = server_->NarrowUrl(Path("plain?size=100"));
    // Directly, and by way of another HTTPS hop first.
    const std::string hop = tls.NarrowUrl(Path("hop?mode=redirect&to=" + Escaped(plain)));
    const std::string starts[] = {tls.NarrowUrl(Path("down?mode=redirect&to=" + Escaped(plain))),
                                  tls.NarrowUrl(Path("twice?mode=redirect&to=" + Escaped(hop)))};
    for (const std::string& url : starts) {
        SCOPED_TRACE(url);
        CHttpCommand cmd;
        CommandOutcome out;
        ASSERT_TRUE(RunCommand(cmd, std::wstring(url.begin(), url.end()), out));
        EXPECT_EQ(ERR_CURL, out.type);
        EXPECT_EQ(CURLE_UNSUPPORTED_PROTOCOL, out.code);
    }
    EXPECT_TRUE(server_->Requests(Path("plain")).empty()) << "a plain HTTP request was sent";
    // Plain HTTP may still lead to HTTPS.
    CHttpCommand up;
    CommandOutcome out;
    const std::string secure = tls.NarrowUrl(Path("up?size=200&seed=2"));
    ASSERT_TRUE(RunCommand(up, server_->Url(Path("r?mode=redirect&to=" + Escaped(secure))), out));
    EXPECT_EQ(0, out.type);
    EXPECT_TRUE(out.body == ExpectedContent(200, 2));
}

TEST(TlsPeerCheck, HostOfAnAddress)
{
    EXPECT_EQ("localhost", UrlHost("https://localhost:8443/a?b"));
    EXPECT_EQ("DL1.example", UrlHost("https://user:pw@DL1.example/x"));
    EXPECT_EQ("::1", UrlHost("https://[::1]:443/"));
    EXPECT_EQ("", UrlHost("not a url"));
    EXPECT_EQ("", UrlHost(nullptr));
}

}  // namespace
}  // namespace httptest
