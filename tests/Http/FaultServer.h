#pragma once
// The HTTP test server, a Python 3 process (server/fault_server.py) on
// 127.0.0.1 with a free port, started on first use and asked to quit when the
// test program ends.
//
// How it is started: a Windows program under Wine can start a Linux program
// with CreateProcessW on its Z: path (Z:\usr\bin\python3); the standard
// handles do not reach it, so the server tells its port through a file under
// Z:\tmp. The script's own path is taken from this source file's path, which
// the compiler records as an absolute Linux path. The server also ends by
// itself after 60 s without requests, so a crashed test leaves nothing behind.

#include <cstdint>
#include <string>
#include <vector>

namespace httptest {

struct LoggedRequest {
    std::string method;
    std::string path;   // with the query
    std::string range;  // "-" when the request had no Range header
};

class FaultServer {
public:
    // The process-wide server, started on first call. Port() is 0 when it
    // could not be started. It signs what it serves with the test keys (see
    // TestKeysDir) when the build names them.
    static FaultServer& Get();
    // An HTTPS server with the test certificate `certName` ("localhost",
    // "otherhost", "untrusted" in TestTlsDir), started on first call.
    static FaultServer& Tls(const std::string& certName);

    int Port() const { return port_; }
    // http://127.0.0.1:PORT + pathAndQuery
    std::wstring Url(const std::string& pathAndQuery) const;
    std::string NarrowUrl(const std::string& pathAndQuery) const;

    // Requests so far whose path starts with `prefix`, in arrival order.
    std::vector<LoggedRequest> Requests(const std::string& prefix) const;
    // A port that accepts no connection (connects hang until their time-out).
    int DeafPort() const;
    // Blocking GET of a control path; empty on failure.
    std::string Control(const std::string& path) const;
    void Quit();

private:
    FaultServer() = default;
    bool Start(const std::string& extraArgs);

    int port_ = 0;
    std::string scheme_ = "http";
    std::string host_ = "127.0.0.1";
};

// Where scripts/setup.sh put the test signing keys ("test.key", "test.pub",
// "other.key", "other.pub") and the test TLS certificates, as Linux paths
// (empty when the build does not name them).
std::string TestKeysDir();
std::string TestTlsDir();
// A Linux path as this Wine process sees it (Z:\...).
std::wstring WinePath(const std::string& unixPath);
// The key line of the public key `name` ("test" or "other").
std::string TestPublicKey(const std::string& name);

// Makes this Wine prefix's machine store trust the test CA (never the
// machine's own store), until the test program ends. False when it cannot.
bool TrustTestCa();

// Body bytes the server sends for (size, seed): a pure function of the offset.
std::string ExpectedContent(uint64_t size, int seed, uint64_t from = 0);

// A local port on which nothing listens (connections are refused).
int RefusingPort();

}  // namespace httptest
