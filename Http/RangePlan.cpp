#include "Http/RangePlan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

namespace {

const char kJournalMagic[] = "ovparts 1";

uint64_t Fnv1a64(const char* data, size_t size)
{
    uint64_t hash = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Digits only, no sign, no overflow.
bool ReadNumber(const wchar_t*& at, uint64_t& value)
{
    if (!iswdigit(*at))
        return false;
    value = 0;
    for (; iswdigit(*at); ++at) {
        const uint64_t digit = static_cast<uint64_t>(*at - L'0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

bool ReadNumber(const std::string& text, uint64_t& value)
{
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    char* end = nullptr;
    value = strtoull(text.c_str(), &end, 10);
    return end && *end == 0 && !(text.size() == 20 && text > "18446744073709551615");
}

}  // namespace

void AddRange(RangeSet& set, ByteRange range)
{
    if (range.Length() == 0)
        return;
    RangeSet merged;
    merged.reserve(set.size() + 1);
    bool placed = false;
    for (const ByteRange& r : set) {
        if (r.end < range.begin) {
            merged.push_back(r);
        } else if (range.end < r.begin) {
            if (!placed) {
                merged.push_back(range);
                placed = true;
            }
            merged.push_back(r);
        } else {
            range.begin = std::min(range.begin, r.begin);
            range.end = std::max(range.end, r.end);
        }
    }
    if (!placed)
        merged.push_back(range);
    set.swap(merged);
}

uint64_t Covered(const RangeSet& set)
{
    uint64_t sum = 0;
    for (const ByteRange& r : set)
        sum += r.Length();
    return sum;
}

uint64_t ContiguousPrefix(const RangeSet& set)
{
    return !set.empty() && set.front().begin == 0 ? set.front().end : 0;
}

RangeSet Missing(uint64_t size, const RangeSet& set)
{
    RangeSet holes;
    uint64_t at = 0;
    for (const ByteRange& r : set) {
        if (r.begin >= size)
            break;
        if (r.begin > at)
            holes.push_back({at, r.begin});
        at = std::max(at, r.end);
    }
    if (at < size)
        holes.push_back({at, size});
    return holes;
}

std::vector<ByteRange> PlanParts(const RangeSet& missing, size_t maxParts, uint64_t minPart)
{
    const uint64_t total = Covered(missing);
    std::vector<ByteRange> parts;
    if (total == 0)
        return parts;
    uint64_t count = minPart ? total / minPart : maxParts;
    count = std::max<uint64_t>(1, std::min<uint64_t>(count, maxParts ? maxParts : 1));
    const uint64_t target = (total + count - 1) / count;
    for (const ByteRange& hole : missing) {
        // A hole up to half a part longer than a part stays whole: no sliver
        // of a request for its last bytes.
        const uint64_t pieces = std::max<uint64_t>(1, (hole.Length() + target / 2) / target);
        const uint64_t step = (hole.Length() + pieces - 1) / pieces;
        for (uint64_t at = hole.begin; at < hole.end; at += step)
            parts.push_back({at, std::min(hole.end, at + step)});
    }
    return parts;
}

uint64_t StealPoint(uint64_t pos, uint64_t end, uint64_t minSteal)
{
    if (end <= pos || end - pos < 2 * minSteal)
        return 0;
    return pos + (end - pos) / 2;
}

bool ParseContentRange(const std::wstring& value, ContentRange& out)
{
    if (value.size() < 7 || _wcsnicmp(value.c_str(), L"bytes ", 6) != 0)
        return false;
    const wchar_t* at = value.c_str() + 6;
    while (*at == L' ')
        ++at;
    ContentRange r;
    if (!ReadNumber(at, r.first) || *at++ != L'-' || !ReadNumber(at, r.last) || *at++ != L'/' ||
        !ReadNumber(at, r.total))
        return false;
    while (*at == L' ')
        ++at;
    if (*at != 0 || r.last < r.first || r.last >= r.total)
        return false;
    out = r;
    return true;
}

std::string EncodeRangeJournal(const RangeJournalHeader& header, const RangeSet& done)
{
    std::string text = kJournalMagic;
    char line[96];
    snprintf(line, sizeof line, "\nsize %llu\nmd5 ", static_cast<unsigned long long>(header.size));
    text += line;
    text += Lower(header.md5);
    text += "\n";
    for (const ByteRange& r : done) {
        snprintf(line, sizeof line, "done %llu %llu\n", static_cast<unsigned long long>(r.begin),
                 static_cast<unsigned long long>(r.end));
        text += line;
    }
    snprintf(line, sizeof line, "sum %016llx\n", static_cast<unsigned long long>(Fnv1a64(text.data(), text.size())));
    return text + line;
}

bool DecodeRangeJournal(const std::string& text, const RangeJournalHeader& expect, RangeSet& done)
{
    const size_t sumAt = text.rfind("sum ");
    if (sumAt == std::string::npos || (sumAt != 0 && text[sumAt - 1] != '\n'))
        return false;
    char expected[32];
    snprintf(expected, sizeof expected, "sum %016llx\n", static_cast<unsigned long long>(Fnv1a64(text.data(), sumAt)));
    if (text.compare(sumAt, std::string::npos, expected) != 0)
        return false;
    RangeSet ranges;
    bool sized = false;
    bool summed = false;
    size_t at = 0;
    for (int index = 0; at < sumAt; ++index) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
        uint64_t value = 0;
        if (index == 0) {
            if (line != kJournalMagic)
                return false;
        } else if (key == "size") {
            if (!ReadNumber(rest, value) || value != expect.size)
                return false;
            sized = true;
        } else if (key == "md5") {
            if (Lower(rest) != Lower(expect.md5))
                return false;
            summed = true;
        } else if (key == "done") {
            const size_t gap = rest.find(' ');
            ByteRange r;
            if (gap == std::string::npos || !ReadNumber(rest.substr(0, gap), r.begin) ||
                !ReadNumber(rest.substr(gap + 1), r.end) || r.end <= r.begin || r.end > expect.size ||
                (!ranges.empty() && r.begin <= ranges.back().end))
                return false;
            ranges.push_back(r);
        } else {
            return false;
        }
    }
    if (!sized || !summed)
        return false;
    done.swap(ranges);
    return true;
}
