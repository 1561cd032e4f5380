#pragma once
// The server certificate of an HTTPS connection, checked against the
// system's trust store and the host name of the request, after the TLS
// handshake and before the request is sent.
//
// Schannel already does this on Windows when libcurl leaves the validation to
// it; Wine's Schannel does not validate at all. This check goes through the
// platform's own certificate chain engine and SSL policy (crypt32), so the
// same trust decision holds on both, and a certificate that is not trusted,
// or names another host, never gets a request or a byte of answer through.
//
// Threads: the transfer worker thread (called from libcurl's callback for
// the transfer); keeps no state.

#include <curl/curl.h>

#include <string>

enum class TlsPeer {
    kPlain,      // not a TLS connection: nothing to check
    kTrusted,
    kRefused,    // the chain does not reach a trusted root, or names another host
};

// Checks the connection `easy` is about to send its request on. `detail`
// receives a short reason when refused.
TlsPeer CheckTlsPeer(CURL* easy, std::wstring& detail);

// The host part of `url` (without brackets for an IPv6 address), or empty.
std::string UrlHost(const char* url);
