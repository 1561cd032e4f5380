#include "Updater/MirrorSet.h"

#include <curl/curl.h>

#include "Http/HttpCommand.h"
#include "Http/HttpDownloadFile.h"
#include "Updater/UpdateModule.h"

MirrorFault ClassifyMirrorFault(int errType, int code)
{
    switch (errType) {
    case ERR_CURL:
        // A write the disk refused is ours, whichever server sent the bytes.
        if (code == CURLE_WRITE_ERROR)
            return MirrorFault::kNone;
        return code == CURLE_OPERATION_TIMEDOUT ? MirrorFault::kStall : MirrorFault::kConnection;
    case ERR_HTTP:
        if (code == 404 || code == 410)
            return MirrorFault::kNotFound;
        return code >= 500 ? MirrorFault::kServerError : MirrorFault::kRefused;
    case ERR_USER:
        switch (code) {
        case DOWNLOAD_ERR_LENGTH_MISMATCH:
        case COMMAND_ERR_BODY_TOO_LARGE:  // a signature file no publisher writes
            return MirrorFault::kLength;
        case UM_ERR_PACKAGE_CHECK:
        case UM_ERR_PACKAGE_SIGNATURE:
        case UM_ERR_PACKAGE_RELEASE:
            return MirrorFault::kCheck;
        default:
            // The proxy's credentials, a file that cannot be replaced or
            // written, a refused directory: another address would meet the
            // same.
            return MirrorFault::kNone;
        }
    default:
        return MirrorFault::kNone;
    }
}

const wchar_t* MirrorFaultName(MirrorFault fault)
{
    switch (fault) {
    case MirrorFault::kNone: return L"not the address's fault";
    case MirrorFault::kConnection: return L"connection error";
    case MirrorFault::kStall: return L"stalled";
    case MirrorFault::kServerError: return L"server error";
    case MirrorFault::kNotFound: return L"not found";
    case MirrorFault::kRefused: return L"refused";
    case MirrorFault::kLength: return L"wrong length";
    case MirrorFault::kCheck: return L"copy failed its check";
    }
    return L"?";
}

void MirrorSet::Reset(const std::vector<std::wstring>& urls)
{
    mirrors_.clear();
    for (const std::wstring& url : urls) {
        Mirror m;
        m.url = url;
        mirrors_.push_back(m);
    }
}

size_t MirrorSet::BeginRound(bool* tookBack)
{
    bool allLeft = !mirrors_.empty();
    for (Mirror& m : mirrors_) {
        m.failedThisRound = false;
        allLeft = allLeft && m.failures >= kTriesPerMirror;
    }
    if (allLeft)
        for (Mirror& m : mirrors_)
            m.failures = 0;
    if (tookBack)
        *tookBack = allLeft;
    return Pick(0);
}

size_t MirrorSet::Pick(size_t from) const
{
    for (size_t i = from; i < mirrors_.size(); ++i)
        if (Healthy(i))
            return i;
    return npos;
}

bool MirrorSet::Healthy(size_t index) const
{
    return index < mirrors_.size() && !mirrors_[index].failedThisRound && !Left(index);
}

void MirrorSet::Fail(size_t index)
{
    if (index >= mirrors_.size())
        return;
    // Rounds are counted, not reports: parts failing together on one address
    // are one failed round.
    if (!mirrors_[index].failedThisRound)
        ++mirrors_[index].failures;
    mirrors_[index].failedThisRound = true;
}
