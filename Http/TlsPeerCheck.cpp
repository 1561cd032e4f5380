#include "Http/TlsPeerCheck.h"

#include <windows.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include "Runtime/TextUtil.h"

namespace {

// Frees what the check obtained on every path out.
struct ChainSession {
    PCCERT_CONTEXT certificate = nullptr;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    ~ChainSession()
    {
        if (chain)
            CertFreeCertificateChain(chain);
        if (certificate)
            CertFreeCertificateContext(certificate);
    }
};

std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace

std::string UrlHost(const char* url)
{
    std::string host;
    CURLU* parts = curl_url();
    if (!parts)
        return host;
    char* text = nullptr;
    if (url && curl_url_set(parts, CURLUPART_URL, url, 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_HOST, &text, 0) == CURLUE_OK && text) {
        host = text;
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
    }
    curl_free(text);
    curl_url_cleanup(parts);
    return host;
}

TlsPeer CheckTlsPeer(CURL* easy, std::wstring& detail)
{
    // The request's own address says whether this connection must be TLS
    // (libcurl reports its TLS backend for plain connections too).
    const char* url = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || !url) {
        detail = L"no address";
        return TlsPeer::kRefused;
    }
    if (_strnicmp(url, "https:", 6) != 0)
        return TlsPeer::kPlain;
    const struct curl_tlssessioninfo* session = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK || !session ||
        session->backend != CURLSSLBACKEND_SCHANNEL || !session->internals) {
        detail = L"no TLS session to check";
        return TlsPeer::kRefused;
    }

    ChainSession s;
    CtxtHandle* context = static_cast<CtxtHandle*>(session->internals);
    if (QueryContextAttributesW(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &s.certificate) != SEC_E_OK ||
        !s.certificate) {
        detail = L"no server certificate";
        return TlsPeer::kRefused;
    }

    const std::wstring host = Widen(UrlHost(url));
    if (host.empty()) {
        detail = L"no host name";
        return TlsPeer::kRefused;
    }

    // A server certificate, with the certificates the server sent to build
    // the chain; no revocation check here (Schannel does that on Windows).
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    if (!CertGetCertificateChain(nullptr, s.certificate, nullptr, s.certificate->hCertStore, &chainPara, 0, nullptr,
                                 &s.chain)) {
        detail = Format(L"no chain:%u", static_cast<unsigned>(GetLastError()));
        return TlsPeer::kRefused;
    }

    // Any error of the chain itself (an untrusted or unknown root, a partial
    // chain, an expired or unsuitable certificate) refuses it; only "could not
    // tell about revocation" is left to Schannel.
    const DWORD revocationUnknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    if (s.chain->TrustStatus.dwErrorStatus & ~revocationUnknown) {
        detail = Format(L"chain refused:0x%08x host:%s", static_cast<unsigned>(s.chain->TrustStatus.dwErrorStatus),
                        host.c_str());
        return TlsPeer::kRefused;
    }
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policyPara = {};
    policyPara.cbSize = sizeof policyPara;
    policyPara.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, s.chain, &policyPara, &status)) {
        detail = Format(L"policy failed:%u", static_cast<unsigned>(GetLastError()));
        return TlsPeer::kRefused;
    }
    if (status.dwError != 0) {
        detail = Format(L"certificate refused:0x%08x host:%s", static_cast<unsigned>(status.dwError), host.c_str());
        return TlsPeer::kRefused;
    }
    return TlsPeer::kTrusted;
}
