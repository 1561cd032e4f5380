#include "Http/FaultServer.h"

#include <winsock2.h>
#include <windows.h>

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace httptest {

namespace {

const int kPatternPeriod = 65521;  // must match server/fault_server.py

std::string Dirname(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::wstring Widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

size_t CollectBody(char* data, size_t size, size_t count, void* user)
{
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// Asks the server to quit when the test program ends.
class ServerEnvironment : public ::testing::Environment {
public:
    void TearDown() override;
};

bool g_started = false;
::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

std::map<std::string, FaultServer*>& TlsServers()
{
    static std::map<std::string, FaultServer*> servers;
    return servers;
}

std::string SigningArgs()
{
    const std::string keys = TestKeysDir();
    if (keys.empty())
        return std::string();
    return " --sign-key " + keys + "/test.key --other-key " + keys + "/other.key";
}

bool g_caTrusted = false;

HCERTSTORE OpenMachineRoot()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
}

std::string ReadAll(const std::wstring& path)
{
    std::string out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

void ForgetTestCa()
{
    if (!g_caTrusted)
        return;
    g_caTrusted = false;
    const std::string der = ReadAll(WinePath(TestTlsDir() + "/ca.der"));
    HCERTSTORE root = OpenMachineRoot();
    if (!root)
        return;
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                       static_cast<DWORD>(der.size()));
    if (cert) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr);
        if (found)
            CertDeleteCertificateFromStore(found);  // frees `found`
        CertFreeCertificateContext(cert);
    }
    CertCloseStore(root, 0);
}

void ServerEnvironment::TearDown()
{
    ForgetTestCa();
    FaultServer::Get().Quit();
    for (auto& entry : TlsServers()) {
        entry.second->Quit();
        delete entry.second;
    }
    TlsServers().clear();
}

}  // namespace

std::string TestKeysDir()
{
#ifdef OV_TEST_KEYS_DIR
    return OV_TEST_KEYS_DIR;
#else
    return std::string();
#endif
}

std::string TestTlsDir()
{
#ifdef OV_TEST_TLS_DIR
    return OV_TEST_TLS_DIR;
#else
    return std::string();
#endif
}

std::wstring WinePath(const std::string& unixPath)
{
    std::wstring out = L"Z:" + Widen(unixPath);
    for (wchar_t& c : out)
        if (c == L'/')
            c = L'\\';
    return out;
}

std::string TestPublicKey(const std::string& name)
{
    std::string text;
    FILE* f = _wfopen(WinePath(TestKeysDir() + "/" + name + ".pub").c_str(), L"rb");
    if (!f)
        return text;
    char line[256];
    // The second line is the key.
    if (fgets(line, sizeof line, f) && fgets(line, sizeof line, f))
        text = line;
    fclose(f);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool TrustTestCa()
{
    if (g_caTrusted)
        return true;
    const std::string der = ReadAll(WinePath(TestTlsDir() + "/ca.der"));
    HCERTSTORE root = OpenMachineRoot();
    if (der.empty() || !root)
        return false;
    g_caTrusted = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                   static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                   nullptr) != FALSE;
    CertCloseStore(root, 0);
    return g_caTrusted;
}

FaultServer& FaultServer::Get()
{
    static FaultServer server;
    if (!g_started) {
        g_started = true;
        server.Start(SigningArgs());
    }
    return server;
}

FaultServer& FaultServer::Tls(const std::string& certName)
{
    FaultServer*& server = TlsServers()[certName];
    if (!server) {
        server = new FaultServer;
        server->scheme_ = "https";
        // The name the certificates are made for.
        server->host_ = "localhost";
        const std::string cert = TestTlsDir() + "/" + certName;
        server->Start(SigningArgs() + " --tls " + cert + ".pem " + cert + ".key");
    }
    return *server;
}

bool FaultServer::Start(const std::string& extraArgs)
{
    char* override = getenv("OV_HTTP_TEST_PYTHON");
    const std::wstring python = override && *override ? Widen(override) : L"Z:\\usr\\bin\\python3";
    const std::string script = Dirname(__FILE__) + "/server/fault_server.py";
    char name[96];
    snprintf(name, sizeof name, "ovhttp-%lu-%lu.port", GetCurrentProcessId(), GetTickCount());
    const std::string unixPortFile = std::string("/tmp/") + name;
    const std::wstring portFile = L"Z:\\tmp\\" + Widen(name);

    std::wstring commandLine =
        python + L" " + Widen(script) + L" " + Widen(unixPortFile) + L" --idle 60" + Widen(extraArgs);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(python.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "FaultServer: cannot start %ls (error %lu)\n", python.c_str(), GetLastError());
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    const ULONGLONG deadline = GetTickCount64() + 15000;
    while (GetTickCount64() < deadline) {
        FILE* f = _wfopen(portFile.c_str(), L"r");
        if (f) {
            int port = 0;
            if (fscanf(f, "%d", &port) == 1 && port > 0)
                port_ = port;
            fclose(f);
            if (port_)
                return true;
        }
        Sleep(50);
    }
    fprintf(stderr, "FaultServer: no port from %s\n", script.c_str());
    return false;
}

std::string FaultServer::NarrowUrl(const std::string& pathAndQuery) const
{
    return scheme_ + "://" + host_ + ":" + std::to_string(port_) + pathAndQuery;
}

std::wstring FaultServer::Url(const std::string& pathAndQuery) const
{
    return Widen(NarrowUrl(pathAndQuery));
}

std::string FaultServer::Control(const std::string& path) const
{
    std::string body;
    if (!port_)
        return body;
    CURL* easy = curl_easy_init();
    if (!easy)
        return body;
    const std::string url = NarrowUrl(path);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, 10L);
    // The test's own control requests; what is checked is the product's.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    if (curl_easy_perform(easy) != CURLE_OK)
        body.clear();
    curl_easy_cleanup(easy);
    return body;
}

std::vector<LoggedRequest> FaultServer::Requests(const std::string& prefix) const
{
    std::vector<LoggedRequest> out;
    std::istringstream lines(Control("/_log"));
    std::string line;
    while (std::getline(lines, line)) {
        LoggedRequest r;
        std::istringstream fields(line);
        std::getline(fields, r.method, '\t');
        std::getline(fields, r.path, '\t');
        std::getline(fields, r.range, '\t');
        if (r.path.compare(0, prefix.size(), prefix) == 0)
            out.push_back(r);
    }
    return out;
}

int FaultServer::DeafPort() const
{
    return atoi(Control("/_deaf").c_str());
}

void FaultServer::Quit()
{
    if (port_)
        Control("/_quit");
    port_ = 0;
}

std::string ExpectedContent(uint64_t size, int seed, uint64_t from)
{
    std::string period(kPatternPeriod, '\0');
    for (int j = 0; j < kPatternPeriod; ++j)
        period[j] = static_cast<char>((j * 131 + seed * 17 + j / 251) & 0xFF);
    std::string out;
    out.reserve(size > from ? size - from : 0);
    for (uint64_t i = from; i < size; ++i)
        out.push_back(period[i % kPatternPeriod]);
    return out;
}

int RefusingPort()
{
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 0;
    int port = 0;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) {
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof addr;
        if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
        closesocket(s);  // never listened: connects to it are refused
    }
    WSACleanup();
    return port;
}

}  // namespace httptest
