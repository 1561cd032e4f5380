#include "Http/ProxyOptions.h"

#include "Http/HttpLog.h"

namespace {

const wchar_t kSource[] = L".\\Http\\ProxyOptions";

}  // namespace

bool ApplyProxyHop(CURL* easy, const ProxyHop& hop)
{
    bool ok = true;
    auto check = [&](const char* name, CURLcode rc) {
        if (rc != CURLE_OK) {
            ok = false;
            OV_LOG(LOG_ERROR, kSource, L"curl_easy_setopt %S failed:%d", name, static_cast<int>(rc));
        }
    };
    const std::string proxy = hop.CurlProxy();
    check("PROXY", curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str()));
    check("NOPROXY", curl_easy_setopt(easy, CURLOPT_NOPROXY, ""));
    check("SUPPRESS_CONNECT_HEADERS", curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
    if (hop.kind == ProxyHop::kHttp) {
        // An empty user name and password: SSPI signs on as the user.
        check("PROXYAUTH", curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_NTLM | CURLAUTH_NEGOTIATE)));
        check("PROXYUSERPWD", curl_easy_setopt(easy, CURLOPT_PROXYUSERPWD, ":"));
    }
    return ok;
}

ProxyAnswer ReadProxyAnswer(CURL* easy, CURLcode result)
{
    ProxyAnswer answer;
    long connectCode = 0, responseCode = 0;
    curl_off_t connectTime = 0;
    if (curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectCode) != CURLE_OK)
        connectCode = 0;
    if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &responseCode) != CURLE_OK)
        responseCode = 0;
    if (curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectTime) != CURLE_OK)
        connectTime = 0;
    answer.unreachable = ProxyUnreachable(result, connectTime > 0, connectCode, responseCode);
    answer.authRequired = connectCode == 407 || responseCode == 407;
    if (answer.authRequired)
        HTTP_LOG_CF(LOG_ERROR, kSource, L"the proxy wants credentials (407) and refused the user's sign-on");
    return answer;
}
