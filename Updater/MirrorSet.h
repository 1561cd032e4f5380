#pragma once
// The addresses of one package (the manifest's "Url", then "Url2" to "Url9")
// and how each has fared: which one to ask next, and which to leave alone.
//
// A round walks the addresses in their order, from the first that is not
// left. An address that fails in a round is not asked again in it; the round
// goes on with the next healthy one, resuming the partial file there. When
// none is healthy, every address has failed this round: the caller reports
// the last failure (the usual notice and back-off), and its next round starts
// again from the top. An address that has failed kTriesPerMirror rounds of
// the run is left for the rest of it, unless every address is left: then all
// are taken back, so there is always one to ask. With a single address this
// is exactly one try per round, as before mirrors existed.
//
// A try is what the caller counts as one outcome (for the package download:
// one result of the request, after its own retries of transport errors).
// Nothing here knows about transfers: a downloader that fetches parts from
// several addresses at once asks Pick for a healthy one per part and reports
// each part's failure with Fail.
//
// Threads: any; one owner (the update module, on the UI thread). No locks.

#include <cstddef>
#include <string>
#include <vector>

// Why a download result counts against the address that served it.
enum class MirrorFault {
    kNone,         // not the address's doing: the local disk, a refused directory, the proxy's credentials
    kConnection,   // a transport error: no connection, a reset or drop mid-file, TLS, redirects
    kStall,        // nothing arrived for too long (curl 28)
    kServerError,  // an HTTP 5xx
    kNotFound,     // an HTTP 404 or 410
    kRefused,      // any other HTTP error status
    kLength,       // a length other than the manifest's "Size", or an answer far too long
    kCheck,        // the copy failed its check: publisher signature, the release it names, or "Md5"
};

// The fault of a download's or signature request's result pair (error type, code).
MirrorFault ClassifyMirrorFault(int errType, int code);
const wchar_t* MirrorFaultName(MirrorFault fault);

class MirrorSet {
public:
    static const size_t npos = static_cast<size_t>(-1);
    // Failed rounds after which an address is left for the rest of the run.
    static const int kTriesPerMirror = 2;

    // A new list (a new manifest): every address healthy, nothing counted.
    void Reset(const std::vector<std::wstring>& urls);
    size_t Count() const { return mirrors_.size(); }
    const std::wstring& Url(size_t index) const { return mirrors_[index].url; }

    // Starts a round and returns the first address to ask (npos only for an
    // empty list). Sets `tookBack` when every address was left and all were
    // taken back.
    size_t BeginRound(bool* tookBack = nullptr);
    // The first healthy address at or after `from`, npos when none is left
    // this round.
    size_t Pick(size_t from = 0) const;
    // Not left, and not failed this round.
    bool Healthy(size_t index) const;
    bool Left(size_t index) const { return mirrors_[index].failures >= kTriesPerMirror; }
    // Address `index` failed: not asked again this round, one failure closer
    // to being left.
    void Fail(size_t index);

private:
    struct Mirror {
        std::wstring url;
        int failures = 0;
        bool failedThisRound = false;
    };
    std::vector<Mirror> mirrors_;
};
