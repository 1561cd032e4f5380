#include "Updater/ReleasePolicy.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <set>
#include <vector>

#include "Updater/Endpoints.h"
#include "Updater/UpdateManifest.h"

namespace {

const size_t kMaxVersionLength = 64;

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

bool IsHexDigit(wchar_t c)
{
    return IsDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// The manifest's values are wide; a version is ASCII or it is no version.
bool NarrowAscii(const std::wstring& wide, std::string& narrow)
{
    narrow.clear();
    for (wchar_t c : wide) {
        if (c > 0x7F)
            return false;
        narrow += static_cast<char>(c);
    }
    return true;
}

// The parts of a dotted decimal without their leading zeros ("" is 0).
std::vector<std::string> VersionParts(const std::string& text)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == '.')
            parts.emplace_back();
        else if (!(parts.back().empty() && c == '0'))
            parts.back() += c;
    }
    return parts;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

ReleasePolicy ReleasePolicy::Compiled()
{
    ReleasePolicy policy;
    policy.floor = MinPackageVersion();
    policy.expiryRequired = ManifestExpiryRequired();
    policy.buildTime = BuildUnixTime();
    return policy;
}

int64_t ReleasePolicy::Now() const
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    // 100 ns units since 1601.
    const int64_t clock = static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
    return clock > buildTime ? clock : buildTime;
}

const wchar_t* ReleaseVerdictName(ReleaseVerdict verdict)
{
    switch (verdict) {
    case ReleaseVerdict::kOk: return L"ok";
    case ReleaseVerdict::kVersion: return L"version below the floor or malformed";
    case ReleaseVerdict::kExpiry: return L"expiry missing, malformed or past";
    case ReleaseVerdict::kIncomplete: return L"size or md5 missing or malformed";
    case ReleaseVerdict::kCommentVersion: return L"signature names another version";
    }
    return L"?";
}

bool IsDottedVersion(const std::string& text)
{
    if (text.empty() || text.size() > kMaxVersionLength || text.front() == '.' || text.back() == '.')
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' ? text[i + 1] == '.' : !IsDigit(c))
            return false;
    }
    return true;
}

int CompareVersions(const std::string& a, const std::string& b)
{
    const std::vector<std::string> pa = VersionParts(a);
    const std::vector<std::string> pb = VersionParts(b);
    for (size_t i = 0; i < pa.size() || i < pb.size(); ++i) {
        const std::string x = i < pa.size() ? pa[i] : std::string();
        const std::string y = i < pb.size() ? pb[i] : std::string();
        // Without leading zeros, the longer number is the larger one.
        if (x.size() != y.size())
            return x.size() < y.size() ? -1 : 1;
        if (const int c = x.compare(y))
            return c;
    }
    return 0;
}

bool ParseUtcTime(const std::wstring& text, int64_t& seconds)
{
    static const wchar_t kShape[] = L"dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != wcslen(kShape))
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (kShape[i] == L'd' ? !IsDigit(text[i]) : text[i] != kShape[i])
            return false;
    auto number = [&](size_t at, size_t digits) {
        int n = 0;
        for (size_t i = at; i < at + digits; ++i)
            n = n * 10 + (text[i] - L'0');
        return n;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

bool TrustedCommentField(const std::string& comment, const std::string& name, std::string& value)
{
    std::set<std::string> seen;
    bool found = false;
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(comment.find(' ', start), comment.size());
        const std::string field = comment.substr(start, end - start);
        const size_t equals = field.find('=');
        if (equals == 0 || equals == std::string::npos || equals + 1 == field.size())
            return false;
        const std::string fieldName = field.substr(0, equals);
        for (char c : fieldName)
            if (!IsNameChar(c))
                return false;
        for (size_t i = equals + 1; i < field.size(); ++i)
            if (field[i] <= ' ' || field[i] > '~')
                return false;
        if (!seen.insert(fieldName).second)
            return false;
        if (fieldName == name) {
            value = field.substr(equals + 1);
            found = true;
        }
        if (end == comment.size())
            return found;
        start = end + 1;
    }
}

ReleaseVerdict CheckManifestRelease(const ReleasePolicy& policy, const UpdateManifestValues& values)
{
    std::string version;
    if (!NarrowAscii(values.version, version) || !IsDottedVersion(version) || !IsDottedVersion(policy.floor) ||
        CompareVersions(version, policy.floor) < 0)
        return ReleaseVerdict::kVersion;

    int64_t expires = 0;
    if (values.expires.empty() ? policy.expiryRequired
                               : !ParseUtcTime(values.expires, expires) || expires < policy.Now())
        return ReleaseVerdict::kExpiry;

    const std::wstring& size = values.sizeText;
    bool sizeOk = !size.empty() && size.size() <= 18 && size.find_first_not_of(L"0123456789") == std::wstring::npos &&
                  size.find_first_not_of(L'0') != std::wstring::npos;
    bool md5Ok = values.md5.size() == 32;
    for (wchar_t c : values.md5)
        md5Ok = md5Ok && IsHexDigit(c);
    if (!sizeOk || !md5Ok)
        return ReleaseVerdict::kIncomplete;
    return ReleaseVerdict::kOk;
}

ReleaseVerdict CheckPackageRelease(const ReleasePolicy& policy, const std::string& trustedComment,
                                   const std::wstring* manifestVersion)
{
    std::string version;
    if (!TrustedCommentField(trustedComment, "version", version) || !IsDottedVersion(version) ||
        !IsDottedVersion(policy.floor) || CompareVersions(version, policy.floor) < 0)
        return ReleaseVerdict::kCommentVersion;
    // The same text, not merely the same number: the publisher signed what
    // the manifest says.
    std::string wanted;
    if (manifestVersion && (!NarrowAscii(*manifestVersion, wanted) || wanted != version))
        return ReleaseVerdict::kCommentVersion;
    return ReleaseVerdict::kOk;
}
