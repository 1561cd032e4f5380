#pragma once
// libcurl's process-wide set-up (CURL_GLOBAL_ALL: Winsock and the TLS
// provider), run once on first use: by the first workshop that starts or the
// first transfer prepared, whichever comes first. Until then the program has
// loaded none of the network or TLS libraries, which keeps them out of its
// start-up.
//
// Threads: UI thread (libcurl's global set-up is not thread-safe; the workers
// start only after it).

// True when libcurl's global set-up succeeded (the result of the first call
// is kept; a failure is logged once).
bool EnsureCurlGlobalInit();
