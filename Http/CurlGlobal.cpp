#include "Http/CurlGlobal.h"

#include <winsock2.h>
#include <windows.h>

#include <curl/curl.h>

#include "Http/HttpLog.h"

bool EnsureCurlGlobalInit()
{
    static const CURLcode rc = [] {
        const CURLcode result = curl_global_init(CURL_GLOBAL_ALL);
        if (result != CURLE_OK)
            OV_LOG(LOG_ERROR, L".\\Http\\CurlGlobal", L"curl_global_init failed:%d", static_cast<int>(result));
        return result;
    }();
    return rc == CURLE_OK;
}
